#include "support/TempDir.h"
#include "app/AddressTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The tree as "level:text" per node in pre-order, joined with "|".
std::string Dump(const TAddressTree& Tree)
{
    std::string out;
    auto walk = [&out](auto& self, const TAddressNode::TNodes& nodes) -> void {
        for (const auto& node : nodes) {
            if (!out.empty())
                out += "|";
            out += std::to_string(node->Level()) + ":" + node->Text;
            self(self, node->Children());
        }
    };
    walk(walk, Tree.Roots());
    return out;
}

// Builds a tree from "level:text" items, each placed under the last node one level up.
TAddressTree Build(std::initializer_list<std::pair<int, const char*>> Items)
{
    TAddressTree tree;
    std::vector<TAddressNode*> last;
    for (auto [level, text] : Items) {
        last.resize(static_cast<size_t>(level));
        last.push_back(tree.AddChild(level ? last[static_cast<size_t>(level) - 1] : nullptr, text));
    }
    return tree;
}

TAddressNode* Find(const TAddressTree& Tree, const std::string& Text)
{
    TAddressNode* found = nullptr;
    auto walk = [&](auto& self, const TAddressNode::TNodes& nodes) -> void {
        for (const auto& node : nodes) {
            if (node->Text == Text)
                found = node.get();
            self(self, node->Children());
        }
    };
    walk(walk, Tree.Roots());
    return found;
}

} // namespace

TEST(AddressTree, SavesPreOrderWithTabsAndCrLf)
{
    EXPECT_EQ(Build({{0, "A"}, {1, "a1"}, {1, "a2"}, {0, "B"}}).SaveToText(), "A\r\n\ta1\r\n\ta2\r\nB\r\n");
    EXPECT_EQ(Build({{0, "A"}, {1, "b"}, {2, "c"}, {1, "d"}}).SaveToText(), "A\r\n\tb\r\n\t\tc\r\n\td\r\n");
    EXPECT_EQ(TAddressTree().SaveToText(), "");
}

TEST(AddressTree, LoadsEveryLineByItsLevel)
{
    struct Case { std::string file; std::string tree; std::string savedAgain; };
    const Case cases[] = {
        {"A\r\n\ta1\r\n\ta2\r\nB\r\n", "0:A|1:a1|1:a2|0:B", "A\r\n\ta1\r\n\ta2\r\nB\r\n"},
        {"", "", ""},
        // blanks indent like tabs, one level each, in any mix; saving writes tabs
        {"A\r\n a1\r\n  x\r\n \ty\r\nB\r\n", "0:A|1:a1|2:x|2:y|0:B", "A\r\n\ta1\r\n\t\tx\r\n\t\ty\r\nB\r\n"},
        // the first line is a root whatever its indentation; later lines compare with its real level
        {"\t\tA\r\n\tb\r\nC\r\n", "0:A|1:b|0:C", "A\r\n\tb\r\nC\r\n"},
        // climbing back several levels at once
        {"A\r\n\tB\r\n\t\tC\r\n\t\t\tD\r\n\tE\r\nF", "0:A|1:B|2:C|3:D|1:E|0:F", "A\r\n\tB\r\n\t\tC\r\n\t\t\tD\r\n\tE\r\nF\r\n"},
        // an empty line after the last line end is a root with an empty text
        {"A\r\n\r\n", "0:A|0:", "A\r\n\r\n"},
        // trailing blanks stay in the text; a blank-only line is an empty text at its level
        {"A  \r\n \r\n", "0:A  |1:", "A  \r\n\t\r\n"},
        // a byte 00 ends the text
        {std::string("A\r\n\tb\0\r\nC\r\n", 12), "0:A|1:b", "A\r\n\tb\r\n"},
        {std::string("\0A\r\n", 4), "", ""},
        // CR, LF and CR LF all end lines; LF CR leaves an empty line between
        {"A\rB\nC\r\nD\n\rE\r", "0:A|0:B|0:C|0:D|0:|0:E", "A\r\nB\r\nC\r\nD\r\n\r\nE\r\n"},
        {"A\n\r\tb", "0:A|0:|1:b", "A\r\n\r\n\tb\r\n"},
    };
    for (const auto& c : cases) {
        TAddressTree tree = Build({{0, "old"}});
        tree.LoadFromText(c.file);
        EXPECT_EQ(Dump(tree), c.tree) << testing::PrintToString(c.file);
        EXPECT_EQ(tree.SaveToText(), c.savedAgain) << testing::PrintToString(c.file);
    }
}

TEST(AddressTree, LeadingBlanksOfATextAreReadBackAsIndentation)
{
    TAddressTree tree = Build({{0, "A"}, {0, " B"}, {0, "\tC"}});
    tree.LoadFromText(tree.SaveToText());
    EXPECT_EQ(Dump(tree), "0:A|1:B|1:C");
}

TEST(AddressTree, LevelJumpStopsTheLoadAndKeepsTheNodesBefore)
{
    struct Case { std::string file; std::string message; std::string kept; };
    const Case cases[] = {
        {"A\r\n\ta1\r\n\t\t\tbad one\r\nB\r\n", "Invalid level (3) for item \"bad one\"", "0:A|1:a1"},
        {"\t\tA\r\n\t\tB\r\n", "Invalid level (2) for item \"B\"", "0:A"},
        {"A\r\n  %s %d\r\n", "Invalid level (2) for item \"%s %d\"", "0:A"},
    };
    for (const auto& c : cases) {
        TAddressTree tree;
        try {
            tree.LoadFromText(c.file);
            ADD_FAILURE() << "no failure for " << testing::PrintToString(c.file);
        } catch (const ETreeViewError& e) {
            EXPECT_EQ(e.Message, c.message);
        }
        EXPECT_EQ(Dump(tree), c.kept);
    }
}

TEST(AddressTree, SortsEveryLevelAlphabeticallyThenLowerCaseFirst)
{
    TAddressTree tree = Build({{0, "b"}, {1, "y"}, {1, "X"}, {1, "x"}, {0, "B"}, {0, "Aa"},
                               {1, "z"}, {2, "k"}, {2, "K"}, {1, "a"}, {0, "ab"}, {0, "a"}, {0, "a"}});
    tree.Sort();
    EXPECT_EQ(Dump(tree), "0:a|0:a|0:Aa|1:a|1:z|2:k|2:K|0:ab|0:b|1:x|1:X|1:y|0:B");

    TAddressTree siblings = Build({{0, "r"}, {1, "c"}, {1, "B"}, {1, "a"}, {0, "q"}});
    siblings.SortSiblings(Find(siblings, "B"));
    EXPECT_EQ(Dump(siblings), "0:r|1:a|1:B|1:c|0:q");
}

TEST(AddressTree, MoveMakesTheNodeTheTargetsLastChild)
{
    TAddressTree tree = Build({{0, "G"}, {1, "g1"}, {2, "deep"}, {1, "g2"}, {0, "leaf"}, {0, "H"}, {1, "h1"}});

    EXPECT_FALSE(tree.MoveTo(Find(tree, "G"), Find(tree, "G")));
    EXPECT_FALSE(tree.MoveTo(Find(tree, "G"), Find(tree, "deep")));
    EXPECT_EQ(Dump(tree), "0:G|1:g1|2:deep|1:g2|0:leaf|0:H|1:h1");

    EXPECT_TRUE(tree.MoveTo(Find(tree, "G"), Find(tree, "leaf")));
    EXPECT_EQ(Dump(tree), "0:leaf|1:G|2:g1|3:deep|2:g2|0:H|1:h1");
    EXPECT_TRUE(tree.MoveTo(Find(tree, "h1"), Find(tree, "g1")));
    EXPECT_EQ(Dump(tree), "0:leaf|1:G|2:g1|3:deep|3:h1|2:g2|0:H");
    EXPECT_FALSE(Find(tree, "H")->HasChildren());
}

TEST(AddressTree, DeleteRemovesTheWholeSubtree)
{
    TAddressTree tree = Build({{0, "A"}, {0, "G"}, {1, "g1"}, {2, "deep"}, {1, "g2"}, {0, "B"}});
    tree.Delete(Find(tree, "G"));
    EXPECT_EQ(Dump(tree), "0:A|0:B");
    tree.Delete(Find(tree, "A"));
    tree.Delete(Find(tree, "B"));
    EXPECT_TRUE(tree.Empty());
}

// Random byte files: the loader either builds a tree or stops with the level failure, and
// what it built saves and loads back to itself.
TEST(AddressTree, RandomFilesLoadOrFailCleanly)
{
    std::mt19937 random(20261211);
    const char alphabet[] = {'\t', '\t', ' ', '\r', '\n', '\n', '\0', 'a', 'B', '%'};
    int loaded = 0, failed = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string file(random() % 200, '\0');
        for (char& c : file)
            c = random() % 4 ? alphabet[random() % sizeof alphabet] : static_cast<char>(random());
        TAddressTree tree;
        try {
            tree.LoadFromText(file);
            ++loaded;
        } catch (const ETreeViewError& e) {
            ASSERT_EQ(e.Message.rfind("Invalid level (", 0), 0u) << e.Message;
            ++failed;
        }
        std::string saved = tree.SaveToText();
        TAddressTree again;
        again.LoadFromText(saved);
        ASSERT_EQ(again.SaveToText(), saved) << testing::PrintToString(file);
    }
    EXPECT_GT(loaded, 100);
    EXPECT_GT(failed, 100);
}

// --- files, in a scratch directory that is the current directory ---

class AddressBookFiles : public testing::Test {
protected:
    void SetUp() override
    {
        previous = fs::current_path();
        dir = fs::temp_directory_path() / ("qp-book-" + std::to_string(::getpid()) + "-" +
                                          testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
    }
    void TearDown() override
    {
        fs::current_path(previous);
        fs::remove_all(dir);
    }

    fs::path previous, dir;
};

TEST_F(AddressBookFiles, SaveAndLoadUseTheRelativeNamesInTheirFailures)
{
    TAddressTree tree = Build({{0, "A"}, {1, "a1"}, {1, "a2"}, {0, "B"}});
    try {
        tree.LoadFromFile("mailtos.qpf");
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message, "Cannot open file mailtos.qpf");
    }
    EXPECT_EQ(Dump(tree), "0:A|1:a1|1:a2|0:B");

    tree.SaveToFile("mailtos.qpf");
    EXPECT_EQ(TempDir::Read("mailtos.qpf"), "A\r\n\ta1\r\n\ta2\r\nB\r\n");
    TempDir::Write("mailtos.qpf", "longer content than the tree has, to be truncated\r\n");
    TAddressTree().SaveToFile("mailtos.qpf");
    EXPECT_EQ(fs::file_size("mailtos.qpf"), 0u);
    tree.LoadFromFile("mailtos.qpf");
    EXPECT_TRUE(tree.Empty());

    fs::create_directory("bkup.qpf");
    try {
        tree.SaveToFile("bkup.qpf");
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message, "Cannot create file bkup.qpf");
    }
}

TEST_F(AddressBookFiles, AFileThatFailsPartWayIsKeptBeforeItIsOverwritten)
{
    const std::string original = "A\r\n\ta1\r\n\t\t\tbad\r\nB\r\n\tb1\r\n";
    TempDir::Write("mailtos.qpf", original);
    TAddressBookFile file("mailtos.qpf");
    TAddressTree tree;
    try {
        file.Load(tree);
        FAIL();
    } catch (const ETreeViewError& e) {
        EXPECT_EQ(e.Message, "Invalid level (3) for item \"bad\"\n\nOnly the lines before this item were loaded. "
                             "The whole file is kept as \"mailtos.qpf.bad\".");
    }
    EXPECT_EQ(Dump(tree), "0:A|1:a1");
    EXPECT_EQ(TempDir::Read("mailtos.qpf.bad"), original);

    tree.AddRoot("new");
    file.Save(tree);
    EXPECT_EQ(TempDir::Read("mailtos.qpf"), "A\r\n\ta1\r\nnew\r\n");
    EXPECT_EQ(TempDir::Read("mailtos.qpf.bad"), original);

    // The same bad file again reuses its copy; another one gets the next free name.
    TempDir::Write("mailtos.qpf", original);
    EXPECT_THROW(file.Load(tree), ETreeViewError);
    EXPECT_FALSE(fs::exists("mailtos.qpf.bad2"));
    TempDir::Write("mailtos.qpf", "X\r\n\t\tY\r\n");
    EXPECT_THROW(file.Load(tree), ETreeViewError);
    EXPECT_EQ(TempDir::Read("mailtos.qpf.bad"), original);
    EXPECT_EQ(TempDir::Read("mailtos.qpf.bad2"), "X\r\n\t\tY\r\n");

    // A good load ends the protection.
    TempDir::Write("mailtos.qpf", "C\r\n");
    file.Load(tree);
    EXPECT_EQ(Dump(tree), "0:C");
}

TEST_F(AddressBookFiles, TextAfterAByteZeroIsKeptInACopy)
{
    const std::string utf16 = std::string("A\0\r\0\n\0B\0\r\0\n\0", 12); // saved as UTF-16 by an editor
    TempDir::Write("mailtos.qpf", utf16);
    TAddressBookFile file("mailtos.qpf");
    TAddressTree tree;
    EXPECT_EQ(file.Load(tree), "Only the lines before a byte 00 in mailtos.qpf were loaded. "
                               "The whole file is kept as \"mailtos.qpf.bad\".");
    EXPECT_EQ(Dump(tree), "0:A");
    EXPECT_EQ(TempDir::Read("mailtos.qpf.bad"), utf16);

    // Nothing but bytes 00 after the first one: nothing is lost, nothing is said.
    TempDir::Write("mailtos.qpf", std::string("C\r\n\0\0", 5));
    EXPECT_EQ(file.Load(tree), "");
    EXPECT_EQ(Dump(tree), "0:C");
    EXPECT_FALSE(fs::exists("mailtos.qpf.bad2"));
}

TEST_F(AddressBookFiles, WithoutRoomForACopyTheUnreadFileIsNotOverwritten)
{
    const std::string original = "A\r\n\t\tbad\r\nB\r\n";
    TempDir::Write("mailtos.qpf", original);
    fs::create_directory("mailtos.qpf.bad");
    for (int n = 2; n <= 100; ++n)
        fs::create_directory("mailtos.qpf.bad" + std::to_string(n));
    TAddressBookFile file("mailtos.qpf");
    TAddressTree tree;
    try {
        file.Load(tree);
        FAIL();
    } catch (const ETreeViewError& e) {
        EXPECT_NE(e.Message.find("No copy of the whole file could be kept (Cannot create file mailtos.qpf.bad)"),
                  std::string::npos) << e.Message;
    }
    tree.AddRoot("new");
    EXPECT_THROW(file.Save(tree), EFCreateError);
    EXPECT_EQ(TempDir::Read("mailtos.qpf"), original);

    fs::remove("mailtos.qpf.bad");
    file.Save(tree);
    EXPECT_EQ(TempDir::Read("mailtos.qpf.bad"), original);
    EXPECT_EQ(TempDir::Read("mailtos.qpf"), "A\r\nnew\r\n");
}
