// A method call's body as the registry reads it, for a module whose methods take every kind
// of parameter a published method takes (texts, integers, Booleans, in/out integers, records,
// lists), and every record and list class read from JSON on its own.
#include "protocol/MethodRegistry.h"
#include "types/RecordJson.h"

#include <cstdint>
#include <cstdlib>

using namespace krp;
using types::TObjectList;

namespace {

struct Module {
    QString Tekstit(const QString& a, std::int32_t b, bool c) { return a + QString::number(b) + (c ? "1" : "0"); }
    QString Jonossa(const QString&, std::int32_t, std::int32_t& maara)
    {
        ++maara;
        return {};
    }
    QString Tyo(const std::optional<types::TTyo>& t) { return t ? t->koodi : QString(); }
    QString Keraily(const std::optional<TObjectList<types::TKerailyrivi>>& l)
    {
        return QString::number(l ? l->size() : 0);
    }
    QString Varasto(const std::optional<TObjectList<types::TVarastoontulorivi>>& l)
    {
        return QString::number(l ? l->size() : 0);
    }
    QString Tyorivit(const std::optional<TObjectList<types::TTyorivi>>& l)
    {
        return QString::number(l ? l->size() : 0);
    }
    QString Kirjaus(const std::optional<types::TTyoaikakirjaus>& k) { return k ? QStringLiteral("1") : QString(); }
    QString Muutos(const std::optional<types::TTuotemuutosrivi>& m) { return m ? QStringLiteral("1") : QString(); }
    QString Inventointi(const std::optional<TObjectList<types::TInventointirivi>>& l)
    {
        return QString::number(l ? l->size() : 0);
    }
};

const protocol::MethodRegistry<Module>& registry()
{
    static const auto r = [] {
        protocol::MethodRegistry<Module> m;
        m.add("Tekstit", &Module::Tekstit, {"a", "b", "c"});
        m.add("Jonossa", &Module::Jonossa, {"a", "b", "maara"});
        m.add("Tyo", &Module::Tyo, {"t"});
        m.add("Keraily", &Module::Keraily, {"l"});
        m.add("Varasto", &Module::Varasto, {"l"});
        m.add("Tyorivit", &Module::Tyorivit, {"l"});
        m.add("Kirjaus", &Module::Kirjaus, {"k"});
        m.add("Muutos", &Module::Muutos, {"m"});
        m.add("Inventointi", &Module::Inventointi, {"l"});
        return m;
    }();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto& methods = registry().methods();
    const std::size_t which = data[0] % methods.size();
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

    Module module;
    const auto result = registry().call(module, methods[which].name, body, [](const QString&) {});
    if (result.status != 200 && result.status != 400)
        std::abort();  // none of these methods raises

    // The record and list readers on their own.
    try {
        switch (data[0] % 4) {
        case 0: types::recordFromJson<types::TKerailyrivi>(body); break;
        case 1: types::listFromJson<types::TTyorivi>(body); break;
        case 2: types::recordFromJson<types::TTyoaikakirjaus>(body); break;
        default: types::listFromJson<types::TVarastoontulorivi>(body); break;
        }
    } catch (const types::RecordJsonError&) {
    }
    return 0;
}
