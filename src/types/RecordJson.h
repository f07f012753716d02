#pragma once
// The JSON form of the transfer records and their lists, as the client applications know it.
//
// Record: {"type":"UTyypit.TKerailyrivi","id":2,"fields":{"id":"R1","toimittajanro":12,...}}
// List:   {"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,
//          "fields":{"FOwnsObjects":true,"FListHelper":[N],"FItems":[record, ...]}}
//
// "id" is the object's sequence number within one parameter or result: the outermost object
// is 1 and every further object takes the next number in writing order. Fields appear in
// declaration order. Texts are UTF-8 on the wire; numbers use generalNumberText.
#include "UTyypit.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <concepts>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace krp::types {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// The seven record classes that cross the wire.
template <class T>
concept TransferRecord = std::same_as<T, TVarastoontulorivi> || std::same_as<T, TKerailyrivi> ||
    std::same_as<T, TInventointirivi> || std::same_as<T, TTuotemuutosrivi> || std::same_as<T, TTyoaikakirjaus> ||
    std::same_as<T, TTyo> || std::same_as<T, TTyorivi>;

// A record or list object that the reader refuses, or a value that the writer cannot write
// (a double that is NaN or infinite). The message names the problem and where it lies.
class RecordJsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Names on the wire, for T one of the seven record classes.
template <class T>
std::string recordTypeName();  // "UTyypit.TKerailyrivi"
template <class T>
std::string listTypeName();  // "System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>"
template <class T>
const char* className();  // "TKerailyrivi"

// Writing into an open writer. `nextId` is the number the next object takes; start it at 1
// for each parameter or result. Throws RecordJsonError for a NaN or infinite double.
template <class T>
void writeRecord(JsonWriter& writer, const T& record, int& nextId);
template <class T>
void writeList(JsonWriter& writer, const TObjectList<T>& list, int& nextId);

// Reading. JSON null gives no object. Refused (RecordJsonError): a value that is not an
// object; "type", "id" or "fields" missing; a "type" that is unknown or names another class
// than T (or than TObjectList<T>); a "fields" member that is no field of the class or comes
// twice; a value of the wrong JSON kind; a fraction, or a number outside the field's width,
// for an integer field. A member missing from "fields" leaves its field 0 or empty.
// A list takes its count N from "FListHelper" ([N]) and reads the first N entries of
// "FItems" (which must be record objects); later entries are ignored.
template <class T>
std::optional<T> readRecord(const rapidjson::Value& value);
template <class T>
std::optional<TObjectList<T>> readList(const rapidjson::Value& value);

// Whole texts, the value being the outermost object ("id" 1).
template <class T>
std::string recordToJson(const T& record);
template <class T>
std::string listToJson(const TObjectList<T>& list);
// Parses `json` first (refusing text that is not JSON) and then reads it as above.
template <class T>
std::optional<T> recordFromJson(std::string_view json);
template <class T>
std::optional<TObjectList<T>> listFromJson(std::string_view json);

// Parses a JSON text as every reader of this system does: correctly rounded numbers,
// UTF-8 validation, no recursion on deep nesting. Throws RecordJsonError with the parser's
// message and byte offset when the text is not JSON.
void parseJson(rapidjson::Document& document, std::string_view json);

// A document whose values start in a pool of its own (on the stack where it is a local): a
// small text, such as a call's arguments or a session's connect properties, is parsed without
// a heap allocation; a larger one grows the pool on the heap.
struct PooledJsonDocument {
    PooledJsonDocument() : allocator(pool, sizeof pool), document(&allocator, 256) {}
    PooledJsonDocument(const PooledJsonDocument&) = delete;
    PooledJsonDocument& operator=(const PooledJsonDocument&) = delete;

    alignas(16) char pool[2048];
    rapidjson::MemoryPoolAllocator<> allocator;
    rapidjson::Document document;
};

// What kind of JSON value `v` is, for error messages ("a string", "an array", ...).
std::string_view jsonKind(const rapidjson::Value& v);

// Writes a double in general form (generalNumberText) as a raw JSON number. Throws
// RecordJsonError naming `what` for NaN or an infinity.
void writeNumber(JsonWriter& writer, double value, std::string_view what);

}  // namespace krp::types
