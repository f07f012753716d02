#pragma once
// The published methods of a module class, by exact (case-sensitive) name, and their
// invocation from a JSON request body:
//
//   body:  a JSON array of the arguments in declaration order
//   200    {"result": R}                     R as Result<R> writes it (null for none)
//   200    {"result": R, "out": {"maara": N}} with in/out parameters, by name
//   400    {"error": "..."}  the body is no JSON array, the argument count is wrong, or an
//                            argument does not convert; the method is not called
//   404    {"error": "..."}  no published method of that name
//   500    {"error": what()} the method raised an error (also handed to the error handler)
//
// Parameter types are deduced from the member-function pointer (see Marshalling.h):
// QString, std::int32_t, bool, std::int32_t& (in/out), const std::optional<Record>&,
// const std::optional<TObjectList<Record>>&. Results: void, QString, bool, std::int32_t,
// Record, std::optional<Record>, std::optional<TObjectList<Record>>, db::Query* (dataset).
//
// The registry knows nothing of the transport: it is filled once, then only read, and may be
// called from many threads at once (each call on its own module instance).
#include "Marshalling.h"

#include <QString>

#include <array>
#include <exception>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace krp::protocol {

inline constexpr int kStatusOk = 200;
inline constexpr int kStatusBadRequest = 400;
inline constexpr int kStatusNotFound = 404;
inline constexpr int kStatusMethodFailed = 500;

struct CallResult {
    int status = kStatusOk;
    std::string body;  // JSON text, UTF-8
    // What the method raised (the 500 answers), for the server to tell a database that does
    // not answer from a method that failed; empty otherwise.
    std::exception_ptr failure;
};

// Receives the message of each error a method raised (the 500 answers), so that the server
// can log it.
using MethodErrorHandler = std::function<void(const QString& message)>;

struct ParameterInfo {
    std::string name;
    std::string type;  // "text", "integer", "boolean", "integer in/out", "TTyo", "list of TKerailyrivi"
};

// Whether a method may change the database. A keyed call of a method that writes is
// remembered across sessions and restarts, so that it never runs twice.
enum class Effect { Reads, Writes };

// Whether a method may wait for the database. One that never does (it only stores its
// arguments or hands work on) runs on the I/O thread that read its request.
enum class DatabaseUse { Needed, None };

struct MethodInfo {
    std::string name;
    std::vector<ParameterInfo> parameters;
    std::string resultType;  // as above, or "none" / "dataset"
    Effect effect = Effect::Reads;
    DatabaseUse database = DatabaseUse::Needed;
};

CallResult errorResult(int status, std::string_view message);

namespace detail {

// A name the client sent, as an answer repeats it: at most 200 characters, then "…".
inline std::string cutName(std::string_view name)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < name.size(); ++chars) {
        if (chars == 200)
            return std::string(name.substr(0, i)) + "\xE2\x80\xA6";
        ++i;
        while (i < name.size() && (static_cast<unsigned char>(name[i]) & 0xC0) == 0x80)
            ++i;
    }
    return std::string(name);
}

// An argument that does not convert; the message names the argument.
class ArgumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Checks the body and returns the argument array, or fills `refusal` with the 400 answer.
const rapidjson::Value* argumentsOf(rapidjson::Document& document, std::string_view body, const MethodInfo& method,
                                    CallResult& refusal);

// Runs `call` (the method and the writing of its answer); an error becomes the 500 answer
// and goes to `onError`.
CallResult runGuarded(const std::function<std::string()>& call, const MethodErrorHandler& onError);

template <class P>
typename Marshal<P>::Storage readArgument(const rapidjson::Value& args, std::size_t index, const MethodInfo& method)
{
    try {
        return Marshal<P>::read(args[static_cast<rapidjson::SizeType>(index)]);
    } catch (const types::RecordJsonError& e) {
        throw ArgumentError("argument " + std::to_string(index + 1) + " \"" + method.parameters[index].name + "\" (" +
                            method.parameters[index].type + "): " + e.what());
    }
}

}  // namespace detail

template <class Module>
class MethodRegistry {
public:
    // Publishes `method` under `name`; `parameterNames` name its parameters in order.
    // `effect` says whether it may change the database, `database` whether it may wait for
    // it. Throws std::logic_error for a name given twice or a parameter left without a name.
    template <class R, class... A>
    MethodRegistry& add(std::string name, R (Module::*method)(A...),
                        std::type_identity_t<std::array<std::string_view, sizeof...(A)>> parameterNames = {},
                        Effect effect = Effect::Reads, DatabaseUse database = DatabaseUse::Needed)
    {
        MethodInfo info;
        info.name = std::move(name);
        info.effect = effect;
        info.database = database;
        info.resultType = detail::Result<R>::typeName();
        const std::string types[] = {std::string(), detail::Marshal<A>::typeName()...};
        for (std::size_t i = 0; i < sizeof...(A); ++i) {
            if (parameterNames[i].empty())
                throw std::logic_error("published method " + info.name + ": parameter " + std::to_string(i + 1) +
                                       " has no name");
            info.parameters.push_back({std::string(parameterNames[i]), types[i + 1]});
        }
        if (index_.count(info.name))
            throw std::logic_error("published method " + info.name + " is registered twice");
        index_.emplace(info.name, entries_.size());
        entries_.push_back(Entry{info, [method](Module& module, rapidjson::Document& args, const MethodInfo& m,
                                                const MethodErrorHandler& onError) {
                                     return invoke(module, method, args, m, onError, std::index_sequence_for<A...>{});
                                 }});
        infos_.push_back(std::move(info));
        return *this;
    }

    bool contains(std::string_view name) const { return index_.find(name) != index_.end(); }
    const MethodInfo* find(std::string_view name) const
    {
        const auto it = index_.find(name);
        return it == index_.end() ? nullptr : &infos_[it->second];
    }
    // In the order of registration.
    const std::vector<MethodInfo>& methods() const { return infos_; }

    // Calls the method `name` of `module` with the arguments in `body`.
    CallResult call(Module& module, std::string_view name, std::string_view body,
                    const MethodErrorHandler& onError = {}) const
    {
        const auto it = index_.find(name);
        if (it == index_.end())
            return errorResult(kStatusNotFound, "No published method named \"" + detail::cutName(name) + "\"");
        const Entry& entry = entries_[it->second];
        types::PooledJsonDocument parsed;
        CallResult refusal;
        if (!detail::argumentsOf(parsed.document, body, entry.info, refusal))
            return refusal;
        return entry.invoke(module, parsed.document, entry.info, onError);
    }

private:
    using Invoker =
        std::function<CallResult(Module&, rapidjson::Document&, const MethodInfo&, const MethodErrorHandler&)>;
    struct Entry {
        MethodInfo info;
        Invoker invoke;
    };

    template <class R, class... A, std::size_t... I>
    // `args`, the parsed array of arguments, is emptied once they are read: the method runs
    // without the parsed document's memory (for a large list, twice the body's size).
    static CallResult invoke(Module& module, R (Module::*method)(A...), rapidjson::Document& args,
                             const MethodInfo& info, const MethodErrorHandler& onError, std::index_sequence<I...>)
    {
        using Values = std::tuple<typename detail::Marshal<A>::Storage...>;
        std::optional<Values> values;
        try {
            // Braced initialisation reads the arguments left to right, so the first bad one is named.
            values.emplace(Values{detail::readArgument<A>(args, I, info)...});
        } catch (const detail::ArgumentError& e) {
            return errorResult(kStatusBadRequest, info.name + ": " + e.what());
        }
        args.SetNull();
        args.GetAllocator().Clear();

        return detail::runGuarded(
            [&]() -> std::string {
                rapidjson::StringBuffer buffer;
                types::JsonWriter w(buffer);
                w.StartObject();
                w.Key("result");
                if constexpr (std::is_void_v<R>) {
                    (module.*method)(detail::Marshal<A>::pass(std::get<I>(*values))...);
                    w.Null();
                } else {
                    const R result = (module.*method)(detail::Marshal<A>::pass(std::get<I>(*values))...);
                    detail::Result<R>::write(w, result);
                }
                if constexpr ((detail::Marshal<A>::isOut || ...)) {
                    w.Key("out");
                    w.StartObject();
                    (writeOut<A>(w, info.parameters[I].name, std::get<I>(*values)), ...);
                    w.EndObject();
                }
                w.EndObject();
                return {buffer.GetString(), buffer.GetSize()};
            },
            onError);
    }

    template <class P>
    static void writeOut(types::JsonWriter& w, const std::string& name, const typename detail::Marshal<P>::Storage& v)
    {
        if constexpr (detail::Marshal<P>::isOut) {
            w.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
            detail::Marshal<P>::writeOut(w, v);
        }
    }

    std::vector<Entry> entries_;
    std::vector<MethodInfo> infos_;
    std::map<std::string, std::size_t, std::less<>> index_;
};

}  // namespace krp::protocol
