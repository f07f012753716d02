#include "RecordJson.h"

#include "NumberText.h"
#include "RecordFields.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <limits>
#include <set>
#include <type_traits>

namespace krp::types {

namespace {

using detail::FieldDef;
using detail::RecordClass;

constexpr const char* kModulePrefix = "UTyypit.";
constexpr const char* kListPrefix = "System.Generics.Collections.TObjectList<UTyypit.";

bool isKnownTypeName(std::string_view name)
{
    static const std::set<std::string, std::less<>> known = [] {
        std::set<std::string, std::less<>> names;
#define KRP_ADD_NAMES(C)                           \
    names.insert(std::string(kModulePrefix) + #C); \
    names.insert(std::string(kListPrefix) + #C + ">");
        KRP_FOR_EACH_RECORD_CLASS(KRP_ADD_NAMES)
#undef KRP_ADD_NAMES
        return names;
    }();
    return known.find(name) != known.end();
}

std::string_view stringOf(const rapidjson::Value& v)
{
    return {v.GetString(), v.GetStringLength()};
}

// ---- writing ---------------------------------------------------------------------------------

template <class R>
void writeFieldValue(JsonWriter& w, const R& record, const FieldDef<R>& field)
{
    std::visit(
        [&](auto member) {
            using M = std::remove_cvref_t<decltype(record.*member)>;
            const M& value = record.*member;
            if constexpr (std::is_same_v<M, QString>) {
                const QByteArray utf8 = value.toUtf8();
                w.String(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()));
            } else if constexpr (std::is_same_v<M, double>) {
                writeNumber(w, value,
                            std::string(kModulePrefix) + RecordClass<R>::name + " field \"" + field.name + "\"");
            } else {
                w.Int(value);
            }
        },
        field.member);
}

// ---- reading ---------------------------------------------------------------------------------

template <class Int>
Int readInteger(const rapidjson::Value& v, const std::string& where)
{
    constexpr auto lo = std::numeric_limits<Int>::min();
    constexpr auto hi = std::numeric_limits<Int>::max();
    constexpr int bits = std::numeric_limits<Int>::digits + 1;
    if (!v.IsNumber() || v.IsDouble())
        throw RecordJsonError(where + ": expected an integer, got " + std::string(jsonKind(v)));
    if (!v.IsInt64() || v.GetInt64() < lo || v.GetInt64() > hi) {
        const std::string text = v.IsInt64() ? std::to_string(v.GetInt64()) : std::to_string(v.GetUint64());
        throw RecordJsonError(where + ": " + text + " is outside the " + std::to_string(bits) + "-bit range " +
                              std::to_string(lo) + ".." + std::to_string(hi));
    }
    return static_cast<Int>(v.GetInt64());
}

template <class R>
void readFieldValue(R& record, const FieldDef<R>& field, const rapidjson::Value& v, const std::string& where)
{
    std::visit(
        [&](auto member) {
            using M = std::remove_cvref_t<decltype(record.*member)>;
            M& target = record.*member;
            if constexpr (std::is_same_v<M, QString>) {
                if (!v.IsString())
                    throw RecordJsonError(where + ": expected a string, got " + std::string(jsonKind(v)));
                target = QString::fromUtf8(v.GetString(), static_cast<qsizetype>(v.GetStringLength()));
            } else if constexpr (std::is_same_v<M, double>) {
                if (!v.IsNumber())
                    throw RecordJsonError(where + ": expected a number, got " + std::string(jsonKind(v)));
                target = v.GetDouble();
            } else {
                target = readInteger<M>(v, where);
            }
        },
        field.member);
}

// Checks the three members of a record or list object and that "type" is the one expected.
// Returns "fields".
const rapidjson::Value& checkObject(const rapidjson::Value& v, const std::string& expectedType)
{
    if (!v.IsObject())
        throw RecordJsonError("expected a " + expectedType + " object or null, got " + std::string(jsonKind(v)));
    const auto type = v.FindMember("type");
    if (type == v.MemberEnd())
        throw RecordJsonError("object has no \"type\" (expected " + expectedType + ")");
    if (!type->value.IsString())
        throw RecordJsonError("\"type\" is " + std::string(jsonKind(type->value)) + ", not a string");
    const std::string_view typeName = stringOf(type->value);
    if (typeName != expectedType) {
        if (isKnownTypeName(typeName))
            throw RecordJsonError("\"type\" is " + std::string(typeName) + ", expected " + expectedType);
        throw RecordJsonError("\"type\" " + std::string(typeName) + " names no known class (expected " + expectedType +
                              ")");
    }
    const auto id = v.FindMember("id");
    if (id == v.MemberEnd())
        throw RecordJsonError(expectedType + " object has no \"id\"");
    if (!id->value.IsNumber())
        throw RecordJsonError(expectedType + " object: \"id\" is " + std::string(jsonKind(id->value)) +
                              ", not a number");
    const auto fields = v.FindMember("fields");
    if (fields == v.MemberEnd())
        throw RecordJsonError(expectedType + " object has no \"fields\"");
    if (!fields->value.IsObject())
        throw RecordJsonError(expectedType + " object: \"fields\" is " + std::string(jsonKind(fields->value)) +
                              ", not an object");
    return fields->value;
}

template <class R>
R readRecordObject(const rapidjson::Value& v)
{
    const std::string typeName = recordTypeName<R>();
    const rapidjson::Value& fields = checkObject(v, typeName);
    R record;
    std::set<std::string_view> seen;
    for (auto m = fields.MemberBegin(); m != fields.MemberEnd(); ++m) {
        const std::string_view name = stringOf(m->name);
        const auto& table = RecordClass<R>::fields;
        const auto field =
            std::find_if(std::begin(table), std::end(table), [&](const FieldDef<R>& f) { return name == f.name; });
        if (field == std::end(table))
            throw RecordJsonError(typeName + ": \"" + std::string(name) + "\" is no field of the class");
        if (!seen.insert(name).second)
            throw RecordJsonError(typeName + ": field \"" + std::string(name) + "\" is given twice");
        readFieldValue(record, *field, m->value, typeName + " field \"" + std::string(name) + "\"");
    }
    return record;
}

template <class R>
TObjectList<R> readListObject(const rapidjson::Value& v)
{
    const std::string typeName = listTypeName<R>();
    const rapidjson::Value& fields = checkObject(v, typeName);
    const rapidjson::Value* helper = nullptr;
    const rapidjson::Value* items = nullptr;
    for (auto m = fields.MemberBegin(); m != fields.MemberEnd(); ++m) {
        const std::string_view name = stringOf(m->name);
        const rapidjson::Value** slot = nullptr;
        if (name == "FListHelper")
            slot = &helper;
        else if (name == "FItems")
            slot = &items;
        else if (name == "FOwnsObjects")
            continue;  // the server's lists always own their records
        else
            throw RecordJsonError(typeName + ": \"" + std::string(name) + "\" is no field of the class");
        if (*slot)
            throw RecordJsonError(typeName + ": field \"" + std::string(name) + "\" is given twice");
        *slot = &m->value;
    }

    // Without its count the list cannot be read: taking it as empty would answer success for
    // records that were never written.
    if (!helper)
        throw RecordJsonError(typeName + ": \"FListHelper\" (the count of records, [N]) is missing");
    std::int64_t count = 0;
    {
        if (!helper->IsArray() || helper->Size() != 1)
            throw RecordJsonError(typeName + ": \"FListHelper\" must be an array holding the count, [N]");
        const rapidjson::Value& n = (*helper)[0];
        if (!n.IsInt64() || n.IsDouble())
            throw RecordJsonError(typeName + ": the count in \"FListHelper\" is " + std::string(jsonKind(n)) +
                                  ", not an integer");
        count = n.GetInt64();
        if (count < 0)
            throw RecordJsonError(typeName + ": the count in \"FListHelper\" is negative (" + std::to_string(count) +
                                  ")");
    }
    if (items && !items->IsArray())
        throw RecordJsonError(typeName + ": \"FItems\" is " + std::string(jsonKind(*items)) + ", not an array");
    const std::int64_t available = items ? items->Size() : 0;
    if (count > available)
        throw RecordJsonError(typeName + ": \"FListHelper\" counts " + std::to_string(count) +
                              " records but \"FItems\" holds only " + std::to_string(available));

    TObjectList<R> list;
    list.reserve(static_cast<std::size_t>(count));
    for (rapidjson::SizeType i = 0; i < count; ++i) {
        const rapidjson::Value& item = (*items)[i];
        const std::string where = typeName + " \"FItems\"[" + std::to_string(i) + "]";
        if (item.IsNull())
            throw RecordJsonError(where + " is null, but it is counted as a record");
        try {
            list.push_back(readRecordObject<R>(item));
        } catch (const RecordJsonError& e) {
            throw RecordJsonError(where + ": " + e.what());
        }
    }
    return list;
}

}  // namespace

// ---- public --------------------------------------------------------------------------------

template <class T>
const char* className()
{
    return RecordClass<T>::name;
}

template <class T>
std::string recordTypeName()
{
    return std::string(kModulePrefix) + RecordClass<T>::name;
}

template <class T>
std::string listTypeName()
{
    return std::string(kListPrefix) + RecordClass<T>::name + ">";
}

void writeNumber(JsonWriter& writer, double value, std::string_view what)
{
    const auto text = generalNumberText(value);
    if (!text)
        throw RecordJsonError(std::string(what) + " holds " + (std::isnan(value) ? "NaN" : "an infinity") +
                              ", which cannot be written as a JSON number");
    writer.RawValue(text->data(), text->size(), rapidjson::kNumberType);
}

// {"type": typeName, "id": next number, "fields": { ... the caller writes the fields.
static void beginTransferObject(JsonWriter& w, const std::string& typeName, int& nextId)
{
    w.StartObject();
    w.Key("type");
    w.String(typeName.data(), static_cast<rapidjson::SizeType>(typeName.size()));
    w.Key("id");
    w.Int(nextId++);
    w.Key("fields");
    w.StartObject();
}

template <class T>
void writeRecord(JsonWriter& w, const T& record, int& nextId)
{
    beginTransferObject(w, recordTypeName<T>(), nextId);
    for (const auto& field : RecordClass<T>::fields) {
        w.Key(field.name);
        writeFieldValue(w, record, field);
    }
    w.EndObject();
    w.EndObject();
}

template <class T>
void writeList(JsonWriter& w, const TObjectList<T>& list, int& nextId)
{
    beginTransferObject(w, listTypeName<T>(), nextId);
    w.Key("FOwnsObjects");
    w.Bool(true);
    w.Key("FListHelper");
    w.StartArray();
    w.Int64(static_cast<std::int64_t>(list.size()));
    w.EndArray();
    w.Key("FItems");
    w.StartArray();
    for (const T& record : list)
        writeRecord(w, record, nextId);
    w.EndArray();
    w.EndObject();
    w.EndObject();
}

template <class T>
std::optional<T> readRecord(const rapidjson::Value& value)
{
    if (value.IsNull())
        return std::nullopt;
    return readRecordObject<T>(value);
}

template <class T>
std::optional<TObjectList<T>> readList(const rapidjson::Value& value)
{
    if (value.IsNull())
        return std::nullopt;
    return readListObject<T>(value);
}

template <class T>
std::string recordToJson(const T& record)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    int id = 1;
    writeRecord(writer, record, id);
    return {buffer.GetString(), buffer.GetSize()};
}

template <class T>
std::string listToJson(const TObjectList<T>& list)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    int id = 1;
    writeList(writer, list, id);
    return {buffer.GetString(), buffer.GetSize()};
}

namespace {

// Arrays and objects nested this deep are no value of this system; refusing them up front
// keeps a hostile body from costing the parser memory in proportion to its depth.
constexpr int kMaxNesting = 64;

int hexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// The code unit of the "\uXXXX" escape starting at json[at] ('\\'), or -1 when there is none.
long escapedUnit(std::string_view json, std::size_t at)
{
    if (at + 6 > json.size() || json[at] != '\\' || json[at + 1] != 'u')
        return -1;
    long unit = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        const int d = hexDigit(json[i]);
        if (d < 0)
            return -1;
        unit = unit * 16 + d;
    }
    return unit;
}

// What a parsed document may hold beyond its text: RapidJSON keeps every value in 16 bytes,
// and the values of an array or object that is still open on its stack besides. Records of
// the protocol take 1.9 to 2.1 times their text; a text of mostly tiny values ("[0,0,0,...]")
// would take 16 times its size.
constexpr std::size_t kDocumentBytesPerTextByte = 3;
constexpr std::size_t kDocumentBytesFree = 64 * 1024;  // small texts are never refused for it
constexpr std::size_t kBytesPerValue = 16;
constexpr std::size_t kPooledStackText = 16 * 1024;

// What the parser would let through although it is no value of this system: nesting deeper
// than kMaxNesting, half of a surrogate pair written as an escape ("\udc00" alone), which
// would otherwise reach the database as replacement characters, and values so many for the
// text's size that its document would take more than three times the text's memory. Empty
// when the text is fine.
std::string scanProblem(std::string_view json)
{
    int depth = 0;
    bool inString = false;
    // Values, counted at their separators and openings: a member's name and value are two.
    std::size_t values = 1;
    std::size_t open[kMaxNesting + 2] = {};  // values of each open array or object so far
    std::size_t widest = 0;                  // the most values of one array or object
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char ch = json[i];
        if (inString) {
            if (ch == '"') {
                inString = false;
            } else if (ch == '\\') {
                const long unit = escapedUnit(json, i);
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    const long low = escapedUnit(json, i + 6);
                    if (low < 0xDC00 || low > 0xDFFF)
                        return "a string holds half of a surrogate pair (\\u" + std::string(json.substr(i + 2, 4)) +
                               ")";
                    i += 11;
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    return "a string holds half of a surrogate pair (\\u" + std::string(json.substr(i + 2, 4)) + ")";
                } else {
                    ++i;  // the escaped character cannot end the string
                }
            }
        } else if (ch == '"') {
            inString = true;
        } else if (ch == '[' || ch == '{') {
            if (++depth > kMaxNesting)
                return "arrays and objects nest deeper than " + std::to_string(kMaxNesting) + " levels";
            ++values;
            open[depth] = 1;
        } else if (ch == ']' || ch == '}') {
            if (depth > 0)
                widest = std::max(widest, open[depth--]);
        } else if (ch == ',' || ch == ':') {
            ++values;
            if (depth > 0)
                ++open[depth];
        }
    }
    for (; depth > 0; --depth)
        widest = std::max(widest, open[depth]);
    const std::size_t documentBytes = (values + widest) * kBytesPerValue;
    if (documentBytes > json.size() * kDocumentBytesPerTextByte + kDocumentBytesFree)
        return "the text holds " + std::to_string(values) + " values in " + std::to_string(json.size()) +
               " bytes, too many for its size (parsed, they would take more than " +
               std::to_string(kDocumentBytesPerTextByte) + " times its memory)";
    return {};
}

// The power of ten of a number's first significant digit, plus one: "123.4e5" -> 8,
// "0.001" -> -2. Only asked of numbers too large or too small for a double.
long long decimalMagnitude(std::string_view number)
{
    const std::size_t e = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::size_t at = e + 1;
        const bool negative = at < number.size() && number[at] == '-';
        if (at < number.size() && (number[at] == '-' || number[at] == '+'))
            ++at;
        for (; at < number.size(); ++at)
            exponent = std::min(exponent * 10 + (number[at] - '0'), 1'000'000'000LL);
        if (negative)
            exponent = -exponent;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos)
        return 0;
    const long long position =
        first < point ? static_cast<long long>(point - first) : -static_cast<long long>(first - point - 1);
    return position + exponent;
}

// Builds the document as RapidJSON's own reader would, except that every number is read from
// its text with std::from_chars, correctly rounded. RapidJSON's full-precision reader gets a
// zero mantissa wrong: "0e52" and "0.000…0" with many zeros read as arbitrary numbers.
struct ExactNumbers {
    rapidjson::Document& document;
    bool tooBig = false;

    bool Null() { return document.Null(); }
    bool Bool(bool b) { return document.Bool(b); }
    bool Int(int i) { return document.Int(i); }
    bool Uint(unsigned u) { return document.Uint(u); }
    bool Int64(std::int64_t i) { return document.Int64(i); }
    bool Uint64(std::uint64_t u) { return document.Uint64(u); }
    bool Double(double d) { return document.Double(d); }
    bool String(const char* s, rapidjson::SizeType n, bool copy) { return document.String(s, n, copy); }
    bool StartObject() { return document.StartObject(); }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) { return document.Key(s, n, copy); }
    bool EndObject(rapidjson::SizeType members) { return document.EndObject(members); }
    bool StartArray() { return document.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) { return document.EndArray(elements); }

    bool RawNumber(const char* s, rapidjson::SizeType n, bool)
    {
        const std::string_view text(s, n);
        const char* end = s + n;
        if (text.find_first_of(".eE") == std::string_view::npos) {
            // An integer stays one while 64 bits hold it; a longer one becomes a double.
            if (text.front() == '-') {
                std::int64_t i = 0;
                if (const auto r = std::from_chars(s, end, i); r.ec == std::errc() && r.ptr == end)
                    return document.Int64(i);
            } else {
                std::uint64_t u = 0;
                if (const auto r = std::from_chars(s, end, u); r.ec == std::errc() && r.ptr == end)
                    return document.Uint64(u);
            }
        }
        double d = 0;
        const auto r = std::from_chars(s, end, d);
        if (r.ec == std::errc::result_out_of_range) {
            if (decimalMagnitude(text) > 0) {
                tooBig = true;
                return false;
            }
            d = text.front() == '-' ? -0.0 : 0.0;  // below the smallest double: zero
        } else if (r.ec != std::errc() || r.ptr != end) {
            return false;  // the reader has checked the grammar: does not happen
        }
        return document.Double(d);
    }
};

}  // namespace

void parseJson(rapidjson::Document& document, std::string_view json)
{
    if (const std::string problem = scanProblem(json); !problem.empty())
        throw RecordJsonError("not accepted: " + problem);
    constexpr unsigned flags =
        rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
    rapidjson::MemoryStream memory(json.data(), json.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    ExactNumbers numbers{document};
    rapidjson::ParseResult result;
    auto generate = [&](rapidjson::Document&) {
        // The reader's own stack (which holds each string while it is read) comes from the
        // document's pool for a small text, so that it is parsed without a heap allocation. A
        // pool never frees, and the stack grows by half again each time it is full: for a long
        // string that would leave three times its size behind, so a larger text's stack is
        // on the heap.
        if (json.size() <= kPooledStackText) {
            rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>> reader(
                &document.GetAllocator());
            result = reader.Parse<flags>(input, numbers);
        } else {
            rapidjson::Reader reader;
            result = reader.Parse<flags>(input, numbers);
        }
        return !result.IsError();
    };
    document.Populate(generate);
    if (result.IsError()) {
        const char* message = numbers.tooBig ? rapidjson::GetParseError_En(rapidjson::kParseErrorNumberTooBig)
                                             : rapidjson::GetParseError_En(result.Code());
        throw RecordJsonError(std::string("not valid JSON: ") + message + " (at byte " +
                              std::to_string(result.Offset()) + ")");
    }
}

template <class T>
std::optional<T> recordFromJson(std::string_view json)
{
    rapidjson::Document document;
    parseJson(document, json);
    return readRecord<T>(document);
}

template <class T>
std::optional<TObjectList<T>> listFromJson(std::string_view json)
{
    rapidjson::Document document;
    parseJson(document, json);
    return readList<T>(document);
}

#define KRP_INSTANTIATE(C)                                                       \
    template const char* className<C>();                                         \
    template std::string recordTypeName<C>();                                    \
    template std::string listTypeName<C>();                                      \
    template void writeRecord<C>(JsonWriter&, const C&, int&);                   \
    template void writeList<C>(JsonWriter&, const TObjectList<C>&, int&);        \
    template std::optional<C> readRecord<C>(const rapidjson::Value&);            \
    template std::optional<TObjectList<C>> readList<C>(const rapidjson::Value&); \
    template std::string recordToJson<C>(const C&);                              \
    template std::string listToJson<C>(const TObjectList<C>&);                   \
    template std::optional<C> recordFromJson<C>(std::string_view);               \
    template std::optional<TObjectList<C>> listFromJson<C>(std::string_view);
KRP_FOR_EACH_RECORD_CLASS(KRP_INSTANTIATE)
#undef KRP_INSTANTIATE

std::string_view jsonKind(const rapidjson::Value& v)
{
    switch (v.GetType()) {
    case rapidjson::kNullType: return "null";
    case rapidjson::kFalseType:
    case rapidjson::kTrueType: return "a boolean";
    case rapidjson::kObjectType: return "an object";
    case rapidjson::kArrayType: return "an array";
    case rapidjson::kStringType: return "a string";
    case rapidjson::kNumberType: return v.IsDouble() ? "a number with a fraction or exponent" : "a number";
    }
    return "an unknown value";
}

}  // namespace krp::types
