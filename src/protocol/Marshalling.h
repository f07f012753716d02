#pragma once
// How each parameter and result type of a published method travels in JSON. A parameter type
// P has Marshal<P> with the value kept during the call (Storage), its reading from the
// argument (throws types::RecordJsonError naming the fault), the way it is passed to the
// method, and whether it comes back under "out". A result type R has Result<R>::write.
#include "TableObject.h"
#include "types/RecordJson.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace krp::protocol::detail {

std::string jsonKindOf(const rapidjson::Value& v);
QString readText(const rapidjson::Value& v);
std::int32_t readInteger(const rapidjson::Value& v);
bool readBoolean(const rapidjson::Value& v);
void writeText(types::JsonWriter& w, const QString& text);

template <class P>
struct Marshal;  // no specialisation: a parameter type that cannot cross the wire

template <class Stored>
struct ByValue {
    using Storage = Stored;
    static const Stored& pass(const Stored& v) { return v; }
    static constexpr bool isOut = false;
};

struct TextMarshal : ByValue<QString> {
    static QString read(const rapidjson::Value& v) { return readText(v); }
    static std::string typeName() { return "text"; }
};
template <>
struct Marshal<QString> : TextMarshal {
};
template <>
struct Marshal<const QString&> : TextMarshal {
};

template <>
struct Marshal<std::int32_t> : ByValue<std::int32_t> {
    static std::int32_t read(const rapidjson::Value& v) { return readInteger(v); }
    static std::string typeName() { return "integer"; }
};

template <>
struct Marshal<bool> : ByValue<bool> {
    static bool read(const rapidjson::Value& v) { return readBoolean(v); }
    static std::string typeName() { return "boolean"; }
};

// In and out: the argument is the value going in; the value the method leaves in it comes
// back under "out" by the parameter's name.
template <>
struct Marshal<std::int32_t&> {
    using Storage = std::int32_t;
    static std::int32_t read(const rapidjson::Value& v) { return readInteger(v); }
    static std::int32_t& pass(std::int32_t& v) { return v; }
    static constexpr bool isOut = true;
    static void writeOut(types::JsonWriter& w, std::int32_t v) { w.Int(v); }
    static std::string typeName() { return "integer in/out"; }
};

template <types::TransferRecord T>
struct Marshal<const std::optional<T>&> : ByValue<std::optional<T>> {
    static std::optional<T> read(const rapidjson::Value& v) { return types::readRecord<T>(v); }
    static std::string typeName() { return types::className<T>(); }
};

template <types::TransferRecord T>
struct Marshal<const std::optional<types::TObjectList<T>>&> : ByValue<std::optional<types::TObjectList<T>>> {
    static std::optional<types::TObjectList<T>> read(const rapidjson::Value& v) { return types::readList<T>(v); }
    static std::string typeName() { return std::string("list of ") + types::className<T>(); }
};

// ---- results ---------------------------------------------------------------------------------

template <class R>
struct Result;  // no specialisation: a result type that cannot cross the wire

template <>
struct Result<void> {
    static std::string typeName() { return "none"; }
};

template <>
struct Result<QString> {
    static void write(types::JsonWriter& w, const QString& v) { writeText(w, v); }
    static std::string typeName() { return "text"; }
};

template <>
struct Result<bool> {
    static void write(types::JsonWriter& w, bool v) { w.Bool(v); }
    static std::string typeName() { return "boolean"; }
};

template <>
struct Result<std::int32_t> {
    static void write(types::JsonWriter& w, std::int32_t v) { w.Int(v); }
    static std::string typeName() { return "integer"; }
};

template <types::TransferRecord T>
struct Result<T> {
    static void write(types::JsonWriter& w, const T& v)
    {
        int id = 1;
        types::writeRecord(w, v, id);
    }
    static std::string typeName() { return types::className<T>(); }
};

template <types::TransferRecord T>
struct Result<std::optional<T>> {
    static void write(types::JsonWriter& w, const std::optional<T>& v)
    {
        int id = 1;
        if (v)
            types::writeRecord(w, *v, id);
        else
            w.Null();
    }
    static std::string typeName() { return types::className<T>(); }
};

template <types::TransferRecord T>
struct Result<std::optional<types::TObjectList<T>>> {
    static void write(types::JsonWriter& w, const std::optional<types::TObjectList<T>>& v)
    {
        int id = 1;
        if (v)
            types::writeList(w, *v, id);
        else
            w.Null();
    }
    static std::string typeName() { return std::string("list of ") + types::className<T>(); }
};

// A dataset: the rows of the returned query as a table object; null for no query.
template <>
struct Result<db::Query*> {
    static void write(types::JsonWriter& w, const db::Query* q)
    {
        if (q)
            writeQueryTable(w, *q);
        else
            w.Null();
    }
    static std::string typeName() { return "dataset"; }
};

}  // namespace krp::protocol::detail
