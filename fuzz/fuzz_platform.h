// The platform the fuzz targets scan over: the fuzzer's bytes are the one
// file on disk, and a referenced module resolves either to that same file or
// to nothing, decided by its name.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "tests/support/fake_platform.h"

namespace vost::fuzz {

constexpr const char* kSubjectPath = "C:\\fuzz\\subject.exe";

class FuzzPlatform : public test::FakePlatform {
public:
    explicit FuzzPlatform(const std::uint8_t* data, std::size_t size) {
        addFile(kSubjectPath, test::Bytes(data, data + size));
        setVersion(kSubjectPath, {0x00050001, 0x0A280000, 0xFFFFFFFF, 0});
        setIcon(kSubjectPath, 1);
    }
    std::string searchModule(const char* name, ModuleBits) override {
        std::uint32_t hash = 2166136261u;
        for (const char* c = name; *c; ++c) hash = (hash ^ std::uint8_t(*c)) * 16777619u;
        return (hash & 1) ? std::string() : std::string(kSubjectPath);
    }
};

}  // namespace vost::fuzz
