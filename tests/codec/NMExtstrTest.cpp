#include "codec/NMExtstr.h"

#include <gtest/gtest.h>

namespace {

TExStringList ListOf(std::vector<std::string> lines, bool sorted = false)
{
    TExStringList list;
    for (const auto& line : lines)
        list.Add(line);
    list.SetSorted(sorted);
    return list;
}

} // namespace

TEST(HeaderList, FieldIndexMatchesTheNameBeforeTheFirstColon)
{
    const TExStringList list = ListOf({"From: a@b", "Subject : spaced", "Subject", "subject: Hi: there", "X-A: 1"});
    struct Case { const char* name; int expected; };
    const Case cases[] = {
        {"SUBJECT", 3},          // not the line with a space before the colon, nor the line without a colon
        {"Subject ", 1},         // the space belongs to that line's name
        {"from", 0},
        {"x-a", 4},
        {"To", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(list.FieldIndex(c.name), c.expected) << "name: '" << c.name << "'";
    EXPECT_EQ(TExStringList().FieldIndex("Subject"), -1);
}

TEST(HeaderList, SetFieldReplacesAppendsAndDeletes)
{
    TExStringList list;
    list.SetField("Subject", "Hello");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Subject: Hello"}));

    list.Add("MIME-Version: 1.0");
    list.SetField("subject", "Again");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"subject: Again", "MIME-Version: 1.0"})) << "in place, new name case";

    list.SetField("X-Mailer", "Quillpost");
    EXPECT_EQ(list.Get(2), "X-Mailer: Quillpost") << "a new field goes after all lines";

    list.SetField("Subject", "");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"MIME-Version: 1.0", "X-Mailer: Quillpost"}));
    list.SetField("Subject", "");
    EXPECT_EQ(list.Count(), 2) << "removing a missing field changes nothing";
}

TEST(HeaderList, OnlyTheFirstOfTwoEqualNamesChanges)
{
    TExStringList list = ListOf({"Date: one", "Date: two"});
    list.SetField("Date", "three");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Date: three", "Date: two"}));
    list.SetField("DATE", "");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Date: two"}));
}

TEST(HeaderList, SortedListIsSearchedByHalving)
{
    EXPECT_EQ(ListOf({}, true).FieldIndex("Date"), -1);

    TExStringList list = ListOf({"To: x", "Date: d", "From: f", "Subject: s", "Cc: c", "X-Mailer: m"}, true);
    ASSERT_EQ(list.Lines(),
              (std::vector<std::string>{"Cc: c", "Date: d", "From: f", "Subject: s", "To: x", "X-Mailer: m"}));
    for (int i = 0; i < list.Count(); ++i) {
        const std::string name = list.Get(i).substr(0, list.Get(i).find(':'));
        EXPECT_EQ(list.FieldIndex(name), i) << name;
    }
    for (const char* missing : {"Bcc", "Dat", "Reply-To", "Zed"})
        EXPECT_EQ(list.FieldIndex(missing), -1) << missing;

    list.SetField("reply-to", "r");
    list.SetField("date", "e");
    list.SetField("To", "");
    EXPECT_EQ(list.Lines(),
              (std::vector<std::string>{"Cc: c", "date: e", "From: f", "reply-to: r", "Subject: s", "X-Mailer: m"}))
        << "a sorted list stays sorted";
}

TEST(HeaderList, SortedSearchFindsWhatTheUnsortedSearchFinds)
{
    // Whole lines are sorted: "Date2: e" comes before "Date: d" and a line without a colon
    // sits between lines that have one.
    const std::vector<std::string> lines = {"To: t", "Date: d", "Subject: s", "Date2: e", "Subject", "X-Mailer: m"};
    const TExStringList sorted = ListOf(lines, true);
    ASSERT_EQ(sorted.Lines(),
              (std::vector<std::string>{"Date2: e", "Date: d", "Subject", "Subject: s", "To: t", "X-Mailer: m"}));
    const TExStringList unsorted = ListOf(sorted.Lines());
    for (const char* name : {"Date", "date2", "Subject", "TO", "X-Mailer", "Subj", "Date2: e", "", "Zed"}) {
        const int expected = unsorted.FieldIndex(name);
        EXPECT_EQ(sorted.FieldIndex(name), expected) << "name: '" << name << "'";
    }
    EXPECT_EQ(unsorted.FieldIndex("Date"), 1);
    EXPECT_EQ(unsorted.FieldIndex("Subject"), 3) << "the line without a colon has no name";

    TExStringList edited = ListOf(lines, true);
    edited.SetField("date", "z");
    EXPECT_EQ(edited.Lines(),
              (std::vector<std::string>{"Date2: e", "date: z", "Subject", "Subject: s", "To: t", "X-Mailer: m"}))
        << "the field is replaced, not added a second time";
}
