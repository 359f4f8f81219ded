#include "platform/posix/known_dlls.h"

#include <hivex.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "analysis/assembly_store.h"

namespace vost {

namespace {

struct HiveCloser {
    void operator()(hive_h* hive) const { hivex_close(hive); }
};
struct FreeText {
    void operator()(char* text) const { std::free(text); }
};
struct FreeValues {
    void operator()(hive_value_h* values) const { std::free(values); }
};

// The key at `path` ('\'-free parts) below `node`; 0 when any part is missing.
hive_node_h child(hive_h* hive, hive_node_h node, std::initializer_list<const char*> path) {
    for (const char* part : path) {
        if (!node) return 0;
        node = hivex_node_get_child(hive, node, part);  // the hive's own case-insensitive match
    }
    return node;
}

}  // namespace

std::unordered_set<std::string> readKnownDlls(const std::string& hivePath) {
    std::unordered_set<std::string> names;
    std::unique_ptr<hive_h, HiveCloser> hive(hivex_open(hivePath.c_str(), 0));
    if (!hive) return names;
    const hive_node_h root = hivex_root(hive.get());
    // Select\Current names the control set the system boots with.
    int current = 1;
    if (const hive_node_h select = child(hive.get(), root, {"Select"})) {
        const hive_value_h value = hivex_node_get_value(hive.get(), select, "Current");
        hive_type type;
        std::size_t length = 0;
        if (value && hivex_value_type(hive.get(), value, &type, &length) == 0 && type == hive_t_REG_DWORD) {
            const std::int32_t number = hivex_value_dword(hive.get(), value);
            if (number > 0 && number < 1000) current = number;
        }
    }
    char controlSet[32];
    std::snprintf(controlSet, sizeof controlSet, "ControlSet%03d", current);
    const hive_node_h known =
        child(hive.get(), root, {controlSet, "Control", "Session Manager", "KnownDLLs"});
    if (!known) return names;
    std::unique_ptr<hive_value_h, FreeValues> values(hivex_node_values(hive.get(), known));
    if (!values) return names;
    for (const hive_value_h* value = values.get(); *value; ++value) {
        hive_type type;
        std::size_t length = 0;
        if (hivex_value_type(hive.get(), *value, &type, &length) != 0 ||
            (type != hive_t_REG_SZ && type != hive_t_REG_EXPAND_SZ))
            continue;
        // DllDirectory and DllDirectory32 name folders, not DLLs.
        const std::unique_ptr<char, FreeText> data(hivex_value_string(hive.get(), *value));
        if (!data) continue;
        const std::string name = lowerAscii(data.get());
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0 &&
            name.find_first_of("\\/%") == std::string::npos)
            names.insert(name);
    }
    return names;
}

}  // namespace vost
