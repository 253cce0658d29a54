// The order in which a host's addresses are tried.
#include <gtest/gtest.h>

#include <string>

#include "resolve.h"

namespace qm {
namespace {

// "6a" is an IPv6 address, "4b" an IPv4 one; the letter tells them apart.
platform::HostAddresses Addresses(const std::string& names) {
    platform::HostAddresses list;
    for (size_t i = 0; i + 1 < names.size(); i += 3) {
        platform::HostAddress a;
        a.v6 = names[i] == '6';
        a.bytes[0] = static_cast<uint8_t>(names[i + 1]);
        list.push_back(a);
    }
    return list;
}

std::string Names(const platform::HostAddresses& list) {
    std::string names;
    for (const platform::HostAddress& a : list)
        names += std::string(a.v6 ? "6" : "4") + static_cast<char>(a.bytes[0]) + " ";
    return names;
}

TEST(Resolve, TheTwoFamiliesTakeTurnsFromTheFirstOnesFamily) {
    const struct {
        std::string given, tried;
    } rows[] = {
        {"6a 6b 4c 4d ", "6a 4c 6b 4d "},
        {"4a 6b 6c 6d ", "4a 6b 6c 6d "},
        {"4a 4b 4c 6d ", "4a 6d 4b 4c "},
        {"6a 6b ", "6a 6b "},
        {"", ""},
    };
    for (const auto& row : rows) {
        platform::HostAddresses list = Addresses(row.given);
        InterleaveFamilies(&list);
        EXPECT_EQ(Names(list), row.tried) << row.given;
    }
}

}  // namespace
}  // namespace qm
