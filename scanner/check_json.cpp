#include "scanner/check_json.h"

#include "scanner/output.h"

namespace vost {

void writeCheckJson(const ClosureCheck& check, std::ostream& out) {
    out << "{\"unresolved\":" << check.findingCount() << ",\"modules\":[";
    bool firstModule = true;
    for (const CheckedModule& m : check.modules) {
        if (!firstModule) out << ',';
        firstModule = false;
        out << "{\"module\":" << jsonString(m.name) << ",\"path\":" << jsonString(m.path)
            << ",\"machine\":" << jsonString(m.check->pe ? machineName(m.check->machine) : "")
            << ",\"importedModules\":" << m.check->modules << ",\"importedFunctions\":" << m.check->functions
            << ",\"findings\":[";
        bool first = true;
        const auto write = [&](const Finding& f) {
            if (!first) out << ',';
            first = false;
            out << "{\"kind\":" << jsonString(findingKindText(f.kind)) << ",\"module\":" << jsonString(f.module)
                << ",\"path\":" << jsonString(f.path) << ",\"delayLoad\":" << (f.delayLoad ? "true" : "false");
            if (f.pinvoke) out << ",\"pinvoke\":true";
            if (!f.assembly.empty()) out << ",\"assembly\":" << jsonString(f.assembly);
            if (isManagedFinding(f.kind)) out << ",\"reason\":" << jsonString(f.reason);
            if (f.kind == FindingKind::unresolved) {
                if (f.byOrdinal)
                    out << ",\"ordinal\":" << f.ordinal;
                else
                    out << ",\"function\":" << jsonString(f.function);
                out << ",\"reason\":" << jsonString(f.reason);
            }
            if (f.kind == FindingKind::otherMachine) out << ",\"machine\":" << jsonString(machineName(f.machine));
            if (isContextFinding(f.kind)) out << ",\"reason\":" << jsonString(f.reason);
            out << '}';
        };
        for (const Finding& f : m.check->findings) write(f);
        for (const Finding& f : m.treeFindings) write(f);
        out << "]}";
    }
    out << "]}";
}

}  // namespace vost
