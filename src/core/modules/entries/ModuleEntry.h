// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstring>

#include "core/BuildInfo.h"

// Defines the one function an engine module exports: its table, to a program of its own version.
#define KOLVEX_ENGINE_MODULE(table)                                                      \
    extern "C" __attribute__((visibility("default"))) const void* kolvex_engine_module( \
        const char* version) {                                                           \
        if (!version || std::strcmp(version, ::kolvex::buildinfo::kVersion) != 0) return nullptr; \
        return &(table);                                                                 \
    }
