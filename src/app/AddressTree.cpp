#include "AddressTree.h"

#include "rtl/Collation.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int MaxCopies = 100;

// Writes Bytes to a file opened with Flags; false when O_EXCL finds the file there.
bool WriteFile(const std::string& FileName, const std::string& Bytes, int Flags)
{
    int handle = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | Flags, 0666);
    if (handle < 0 && errno == EEXIST && (Flags & O_EXCL))
        return false;
    if (handle < 0)
        throw EFCreateError(FormatMessage("Cannot create file %s", FileName));
    size_t done = 0;
    while (done < Bytes.size()) {
        ssize_t n = ::write(handle, Bytes.data() + done, Bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    bool closed = ::close(handle) == 0;
    if (done < Bytes.size() || !closed)
        throw EWriteError("Stream write error");
    return true;
}

std::string ReadFile(const std::string& FileName)
{
    TMemoryStream stream;
    stream.LoadFromFile(FileName);
    return stream.ToString();
}

bool HoldsContent(const std::string& FileName, const std::string& Content)
{
    try {
        return ReadFile(FileName) == Content;
    } catch (const EStreamError&) {
        return false; // missing or unreadable: not a copy we can reuse
    }
}

void SaveNodes(const TAddressNode::TNodes& Nodes, size_t Level, std::string& Out)
{
    for (const auto& node : Nodes) {
        Out.append(Level, '\t');
        Out += node->Text;
        Out += "\r\n";
        SaveNodes(node->Children(), Level + 1, Out);
    }
}

void SortNodes(TAddressNode::TNodes& Nodes)
{
    std::stable_sort(Nodes.begin(), Nodes.end(), [](const auto& a, const auto& b) {
        return CompareAddressText(a->Text, b->Text) < 0;
    });
}

} // namespace

int TAddressNode::Level() const
{
    int level = 0;
    for (const TAddressNode* node = FParent; node; node = node->FParent)
        ++level;
    return level;
}

bool TAddressNode::IsSelfOrAncestorOf(const TAddressNode* Node) const
{
    for (; Node; Node = Node->FParent)
        if (Node == this)
            return true;
    return false;
}

TAddressNode::TNodes& TAddressTree::SiblingsOf(const TAddressNode* Node)
{
    return Node->FParent ? Node->FParent->FChildren : FRoots;
}

TAddressNode* TAddressTree::AddRoot(std::string Text)
{
    return AddChild(nullptr, std::move(Text));
}

TAddressNode* TAddressTree::AddChild(TAddressNode* Parent, std::string Text)
{
    auto& siblings = Parent ? Parent->FChildren : FRoots;
    siblings.push_back(std::make_unique<TAddressNode>(std::move(Text), Parent));
    return siblings.back().get();
}

void TAddressTree::Delete(TAddressNode* Node)
{
    auto& siblings = SiblingsOf(Node);
    std::erase_if(siblings, [Node](const auto& sibling) { return sibling.get() == Node; });
}

bool TAddressTree::MoveTo(TAddressNode* Node, TAddressNode* Target)
{
    if (Node->IsSelfOrAncestorOf(Target))
        return false;
    auto& siblings = SiblingsOf(Node);
    auto at = std::find_if(siblings.begin(), siblings.end(), [Node](const auto& s) { return s.get() == Node; });
    std::unique_ptr<TAddressNode> moving = std::move(*at);
    siblings.erase(at);
    moving->FParent = Target;
    Target->FChildren.push_back(std::move(moving));
    return true;
}

void TAddressTree::Sort()
{
    // Breadth by breadth, without recursion: every list of siblings once.
    std::vector<TAddressNode::TNodes*> pending{&FRoots};
    while (!pending.empty()) {
        TAddressNode::TNodes* nodes = pending.back();
        pending.pop_back();
        SortNodes(*nodes);
        for (auto& node : *nodes)
            if (node->HasChildren())
                pending.push_back(&node->FChildren);
    }
}

void TAddressTree::SortSiblings(TAddressNode* Node)
{
    SortNodes(SiblingsOf(Node));
}

std::string TAddressTree::SaveToText() const
{
    std::string out;
    SaveNodes(FRoots, 0, out);
    return out;
}

void TAddressTree::LoadFromText(const std::string& Text)
{
    Clear();
    TStringList lines;
    lines.SetText(Text.substr(0, Text.find('\0'))); // a byte 00 ends the text
    TAddressNode* previous = nullptr;
    for (const std::string& line : lines.Lines()) {
        size_t indent = std::min(line.find_first_not_of("\t "), line.size());
        previous = Place(previous, indent, line.substr(indent));
    }
}

// The new node's place relative to the node made from the line before it.
TAddressNode* TAddressTree::Place(TAddressNode* Previous, size_t Level, std::string Text)
{
    if (!Previous)
        return AddRoot(std::move(Text));
    const size_t previousLevel = static_cast<size_t>(Previous->Level());
    if (Level == previousLevel)
        return AddChild(Previous->FParent, std::move(Text));
    if (Level == previousLevel + 1)
        return AddChild(Previous, std::move(Text));
    if (Level < previousLevel) {
        TAddressNode* ancestor = Previous;
        for (size_t level = previousLevel; level > Level; --level)
            ancestor = ancestor->FParent;
        return AddChild(ancestor->FParent, std::move(Text));
    }
    std::string message = FormatMessage("Invalid level (%d) for item \"%s\"", static_cast<long long>(Level));
    throw ETreeViewError(FormatMessage(message, Text));
}

void TAddressTree::SaveToFile(const std::string& FileName) const
{
    WriteFile(FileName, SaveToText(), O_TRUNC);
}

void TAddressTree::LoadFromFile(const std::string& FileName)
{
    LoadFromText(ReadFile(FileName));
}

// --- TAddressBookFile ---

std::string TAddressBookFile::Load(TAddressTree& Tree)
{
    const std::string content = ReadFile(FFileName);
    FUnreadContent = content;
    FCopyPending = true;
    try {
        Tree.LoadFromText(content);
    } catch (const ETreeViewError& failure) {
        throw ETreeViewError(failure.Message + "\n\nOnly the lines before this item were loaded. " + CopyNote());
    }
    // Bytes 00 alone after the first one lose nothing.
    const size_t end = content.find('\0');
    if (end != std::string::npos && content.find_first_not_of('\0', end) != std::string::npos)
        return "Only the lines before a byte 00 in " + FFileName + " were loaded. " + CopyNote();
    FCopyPending = false;
    FUnreadContent.clear();
    return {};
}

std::string TAddressBookFile::CopyNote()
{
    try {
        return "The whole file is kept as \"" + KeepCopy() + "\".";
    } catch (const EStreamError& copyFailure) {
        return "No copy of the whole file could be kept (" + copyFailure.Message +
               "), so it is not overwritten until one is.";
    }
}

void TAddressBookFile::Save(const TAddressTree& Tree)
{
    if (FCopyPending)
        KeepCopy();
    Tree.SaveToFile(FFileName);
}

std::string TAddressBookFile::KeepCopy()
{
    for (int n = 1; n <= MaxCopies; ++n) {
        std::string name = FFileName + ".bad" + (n > 1 ? std::to_string(n) : "");
        if (HoldsContent(name, FUnreadContent) || WriteFile(name, FUnreadContent, O_EXCL)) {
            FCopyPending = false;
            FUnreadContent.clear();
            return name;
        }
    }
    throw EFCreateError(FormatMessage("Cannot create file %s", FFileName + ".bad"));
}
