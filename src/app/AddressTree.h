// The address book's tree of text nodes and its file format, without any window:
// one node per line in pre-order, the depth as leading TABs, CR LF after every line.
#pragma once

#include "rtl/Exceptions.h"

#include <memory>
#include <string>
#include <vector>

class ETreeViewError : public Exception {
    using Exception::Exception;
};

class TAddressNode {
public:
    using TNodes = std::vector<std::unique_ptr<TAddressNode>>;

    explicit TAddressNode(std::string AText, TAddressNode* AParent) : Text(std::move(AText)), FParent(AParent) {}

    std::string Text; // bytes in the system code page, no line breaks

    TAddressNode* Parent() const { return FParent; }
    const TNodes& Children() const { return FChildren; }
    bool HasChildren() const { return !FChildren.empty(); }
    int Level() const;
    bool IsSelfOrAncestorOf(const TAddressNode* Node) const;

private:
    friend class TAddressTree;

    TAddressNode* FParent;
    TNodes FChildren;
};

class TAddressTree {
public:
    const TAddressNode::TNodes& Roots() const { return FRoots; }
    bool Empty() const { return FRoots.empty(); }

    void Clear() { FRoots.clear(); }
    // Adds after the last root.
    TAddressNode* AddRoot(std::string Text);
    // Adds as Parent's last child; a root when Parent is none.
    TAddressNode* AddChild(TAddressNode* Parent, std::string Text);
    // Removes Node with all its descendants.
    void Delete(TAddressNode* Node);
    // Node with its subtree becomes Target's last child. Nothing moves, and false is
    // returned, when Target is Node itself or one of its descendants.
    bool MoveTo(TAddressNode* Node, TAddressNode* Target);

    // Sorts the roots and every node's children.
    void Sort();
    // Sorts the siblings of Node (the roots when Node is a root).
    void SortSiblings(TAddressNode* Node);

    std::string SaveToText() const;
    // Replaces the tree by the lines of Text. On a level failure ("Invalid level (%d) for
    // item "%s"") the nodes made from the lines before the bad one stay.
    void LoadFromText(const std::string& Text);

    // "Cannot create file %s" when FileName cannot be created or truncated.
    void SaveToFile(const std::string& FileName) const;
    // "Cannot open file %s" when FileName cannot be read; the tree is then unchanged.
    void LoadFromFile(const std::string& FileName);

private:
    TAddressNode::TNodes& SiblingsOf(const TAddressNode* Node);
    TAddressNode* Place(TAddressNode* Previous, size_t Level, std::string Text);

    TAddressNode::TNodes FRoots;
};

// The address book's own file. A file that does not load whole (a bad line, or text after
// a byte 00) leaves only the nodes before that point in the tree; so that a later save does
// not destroy the rest, a copy of the whole file is kept beside it first ("<name>.bad", or
// "<name>.bad2" and on when that holds something else) and the user is told where.
class TAddressBookFile {
public:
    explicit TAddressBookFile(std::string FileName) : FFileName(std::move(FileName)) {}

    const std::string& FileName() const { return FFileName; }
    // Fails as the tree's load does, the failure text then saying where the copy is. A load
    // that stopped at a byte 00 returns that note instead; otherwise the note is empty.
    std::string Load(TAddressTree& Tree);
    // Refused with the copy's failure while a file that did not load whole has no copy yet.
    void Save(const TAddressTree& Tree);

private:
    std::string KeepCopy();
    std::string CopyNote();

    std::string FFileName;
    std::string FUnreadContent; // the file that failed to load, until a copy is kept
    bool FCopyPending = false;
};
