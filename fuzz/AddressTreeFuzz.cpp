// libFuzzer target: any bytes as an address book file. The load builds a tree or stops with
// the level failure, and what it built saves and loads back to the same bytes.
#include "app/AddressTree.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    TAddressTree tree;
    try {
        tree.LoadFromText(std::string(reinterpret_cast<const char*>(Data), Size));
    } catch (const ETreeViewError&) {
        // the nodes before the bad line stay; they must save and load back like any tree
    }
    tree.Sort();
    const std::string saved = tree.SaveToText();
    TAddressTree again;
    again.LoadFromText(saved);
    if (again.SaveToText() != saved)
        std::abort();
    return 0;
}
