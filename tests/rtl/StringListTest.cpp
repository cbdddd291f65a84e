#include "rtl/Exceptions.h"
#include "rtl/StringList.h"

#include <gtest/gtest.h>

TEST(StringList, SetTextSplitsAtEveryLineBreak)
{
    struct Case { const char* text; std::vector<std::string> lines; };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {"a\r", {"a"}},
    };
    for (const auto& c : cases) {
        TStringList list;
        list.SetText(c.text);
        EXPECT_EQ(list.Lines(), c.lines) << "text: " << testing::PrintToString(std::string(c.text));
    }
}

TEST(StringList, TextEndsEveryLineWithCrLf)
{
    TStringList list;
    EXPECT_EQ(list.Text(), "");
    list.Add("one");
    list.Add("");
    list.Add("three");
    EXPECT_EQ(list.Text(), "one\r\n\r\nthree\r\n");
}

TEST(StringList, EditingKeepsOrderAndChecksIndexes)
{
    TStringList list;
    list.Add("b");
    list.Insert(0, "a");
    list.Add("c");
    list.Put(2, "C");
    list.Delete(1);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a", "C"}));
    EXPECT_THROW(list.Get(2), EListError);
    EXPECT_THROW(list.Delete(-1), EListError);

    TStringList copy;
    copy.Assign(list);
    list.Clear();
    EXPECT_EQ(copy.Count(), 2);
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, SortedListInsertsCaseInsensitivelyAndRefusesPut)
{
    TStringList list;
    list.SetSorted(true);
    for (const char* s : {"delta", "Alpha", "charlie", "bravo", "ALPHA"})
        list.Add(s);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Alpha", "bravo", "charlie", "delta"}));

    TStringList plain;
    plain.SetText("zulu\r\nBravo\r\nyankee\r\n");
    list.Assign(plain);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Bravo", "yankee", "zulu"})) << "assigned lines are kept in order";
    try {
        list.Put(0, "x");
        FAIL() << "Put on a sorted list must fail";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Operation not allowed on sorted string list");
    }
}
