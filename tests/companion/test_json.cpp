// The JSON writer: the files' layout and numbers, on the cases a writer
// gets wrong; and the reader of a file cut short.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json.h"

TEST(JsonText, NumbersInTheirShortestExactFormAndNotANumberAsNull) {
    const double inf = std::numeric_limits<double>::infinity();
    Json j = Json::object();
    j["nan"] = std::nan("");
    j["minus_inf"] = -inf;
    j["minus_zero"] = -0.0;
    j["large"] = 1e300;
    j["least"] = 5e-324;
    j["whole"] = 3.0;
    j["tenth"] = 0.1 + 0.2;
    j["count"] = 1234567890123LL;
    j["unsigned"] = size_t(7);
    j["yes"] = true;
    j["none"] = nullptr;
    EXPECT_EQ(json_text(j),
              "{\n  \"nan\": null,\n  \"minus_inf\": null,\n  \"minus_zero\": -0,\n  \"large\": 1e+300,\n"
              "  \"least\": 5e-324,\n  \"whole\": 3,\n  \"tenth\": 0.30000000000000004,\n  \"count\": 1234567890123,\n"
              "  \"unsigned\": 7,\n  \"yes\": true,\n  \"none\": null\n}\n");
    // Each reads back as the very double written.
    const Json back = Json::parse(json_text(j));
    EXPECT_EQ(back["large"].get<double>(), 1e300);
    EXPECT_EQ(back["least"].get<double>(), 5e-324);
    EXPECT_EQ(back["tenth"].get<double>(), 0.1 + 0.2);
}

TEST(JsonText, FixedDecimalsRoundAsPrintfAndNullWhenNotFinite) {
    const Json j = {{"a", fixed_number(-12.5, 6)},
                    {"b", fixed_number(0.0000006, 6)},
                    {"c", fixed_number(2.0, 0)},
                    {"d", fixed_number(std::nan(""), 6)},
                    {"e", fixed_number(-0.0, 3)}};
    EXPECT_EQ(json_text(j),
              "{\n  \"a\": -12.500000,\n  \"b\": 0.000001,\n  \"c\": 2,\n  \"d\": null,\n  \"e\": -0.000\n}\n");
}

TEST(JsonText, TopMembersAndArraysOneToALineObjectsBelowOnOne) {
    Json j = Json::object();
    j["empty"] = Json::array();
    j["no_members"] = Json::object();
    j["words"] = {"say \"so\"", "back\\slash", "tab\tand\x01"};
    j["inner"] = {{"x", 1}, {"list", {1, 2.5}}, {"deeper", {{"y", Json::array()}}}};
    j["rows"] = Json::array({{{"k", 1}, {"v", -0.5}}, {{"k", 2}, {"v", nullptr}}});
    j["nested"] = Json::array({Json::array({1, 2}), Json::array()});
    EXPECT_EQ(json_text(j),
              "{\n"
              "  \"empty\": [],\n"
              "  \"no_members\": {},\n"
              "  \"words\": [\n    \"say \\\"so\\\"\",\n    \"back\\\\slash\",\n    \"tab\\u0009and\\u0001\"\n  ],\n"
              "  \"inner\": {\"x\": 1, \"list\": [1, 2.5], \"deeper\": {\"y\": []}},\n"
              "  \"rows\": [\n    {\"k\": 1, \"v\": -0.5},\n    {\"k\": 2, \"v\": null}\n  ],\n"
              "  \"nested\": [\n    [\n      1,\n      2\n    ],\n    []\n  ]\n"
              "}\n");
    EXPECT_EQ(Json::parse(json_text(j)), j);  // what it writes is JSON, and the same tree
    EXPECT_EQ(json_text(Json::object()), "{}\n");
}

TEST(JsonMembers, AFileCutShortKeepsTheMembersBeforeTheCut) {
    const Json whole = json_members("{\"a\": 1.5, \"b\": {\"c\": [1, 2]}, \"d\": true}");
    EXPECT_EQ(whole["b"]["c"][1], 2);
    EXPECT_EQ(whole["d"], true);
    const Json cut = json_members("{\n  \"a\": -12.5,\n  \"b\": {\"c\": 1},\n  \"d\": \n");
    EXPECT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut["a"].get<double>(), -12.5);
    EXPECT_EQ(cut["b"]["c"], 1);
    for (const char *text : {"", "[1, 2]", "not json", "{\"a\"", "3"}) EXPECT_TRUE(json_members(text).empty()) << text;
}
