#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console.h"
#include "stdin_answers.h"

TEST(Answers, OneLineServesSeveralPrompts) {
    answers("0 a 0 b 0\n");
    int type = 9, w1 = 9, w2 = 9;
    std::string n1, n2;
    EXPECT_EQ(read_int(type), Answer::given);
    EXPECT_EQ(read_word(n1), Answer::given);
    EXPECT_EQ(read_int(w1), Answer::given);
    EXPECT_EQ(read_word(n2), Answer::given);
    EXPECT_EQ(read_int(w2), Answer::given);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(n1, "a");
    EXPECT_EQ(w1, 0);
    EXPECT_EQ(n2, "b");
    EXPECT_EQ(w2, 0);
    EXPECT_EQ(read_int(w2), Answer::ended);
    EXPECT_EQ(read_word(n2), Answer::ended);
    EXPECT_EQ(n2, "b");
}

TEST(Answers, AWordWhereANumberIsAskedStaysForTheNextPrompt) {
    answers("dem\n  \t\n 12x -3\n");
    int v = 5;
    std::string w;
    EXPECT_EQ(read_int(v), Answer::not_number);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(read_word(w), Answer::given);
    EXPECT_EQ(w, "dem");
    EXPECT_EQ(read_int(v), Answer::given);  // skips blank lines
    EXPECT_EQ(v, 12);
    EXPECT_EQ(read_int(v), Answer::not_number);  // "x" stays
    skip_word();
    EXPECT_EQ(read_int(v), Answer::given);
    EXPECT_EQ(v, -3);
}

TEST(Answers, TheLastLineNeedsNoLineFeedAndNamesKeepTheirBytes) {
    answers("my dem\r\nlast");
    std::string w;
    EXPECT_EQ(read_word(w), Answer::given);
    EXPECT_EQ(w, "my");
    EXPECT_EQ(read_word(w), Answer::given);
    EXPECT_EQ(w, "dem");  // a CR is white space
    EXPECT_EQ(read_word(w), Answer::given);
    EXPECT_EQ(w, "last");
    EXPECT_EQ(read_word(w), Answer::ended);
}

TEST(Pause, ReturnsAtOnceWithoutATerminal) {
    // The test runner may have a terminal; a child in a new session has none.
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        wait_key();
        _exit(3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}
