// What the real-server tests ask of what runs: whether a process group still
// has members, and a GET that answers status 0 when nothing answers.
#pragma once

#include "VessoraCore/Foundation/LoopbackHTTP.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vessora {

// Every server leads a process group of its own: a group without living
// members means no worker outlived its master. Orphans are reaped by init in
// its own time, so zombies do not count.
inline bool processGroupAlive(std::int32_t group) {
    for (const auto& item : std::filesystem::directory_iterator("/proc")) {
        std::ifstream file(item.path() / "stat");
        std::string text;
        if (!std::getline(file, text))
            continue;
        const auto end = text.rfind(')');
        if (end == std::string::npos)
            continue;
        std::istringstream fields(text.substr(end + 1));
        std::string state;
        std::int64_t parent = 0, pgrp = 0;
        fields >> state >> parent >> pgrp;
        if (pgrp == group && state != "Z")
            return true;
    }
    return false;
}

// The answer to a GET, or status 0 and no body when nothing answered.
inline LoopbackHTTP::Answer fetch(const std::string& url) {
    try {
        return LoopbackHTTP::get(url, 15);
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace vessora
