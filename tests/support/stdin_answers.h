// Puts answers on standard input for the code under test and starts the
// answer reader afresh.
#ifndef KARVEL_TESTS_STDIN_ANSWERS_H
#define KARVEL_TESTS_STDIN_ANSWERS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "console.h"

inline void answers(const std::string &text) {
    const std::string p = "/tmp/karvel_answers_" + std::to_string(getpid());
    { std::ofstream(p, std::ios::binary) << text; }
    ASSERT_NE(std::freopen(p.c_str(), "r", stdin), nullptr);
    reset_answers();
    unlink(p.c_str());
}

#endif
