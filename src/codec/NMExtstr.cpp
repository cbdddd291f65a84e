#include "NMExtstr.h"

namespace {

// The text before the first ":"; only called on lines that have one.
std::string FieldName(const std::string& line)
{
    return line.substr(0, line.find(':'));
}

} // namespace

int32_t TExStringList::FieldIndex(const std::string& Name) const
{
    return Sorted() ? FindSorted(Name) : FindUnsorted(Name);
}

int32_t TExStringList::FindUnsorted(const std::string& Name) const
{
    for (int32_t i = 0; i < Count(); ++i) {
        const std::string& line = Get(i);
        if (line.find(':') != std::string::npos && CompareText(FieldName(line), Name) == 0)
            return i;
    }
    return -1;
}

// A sorted list orders whole lines, not names: "Date2: x" sorts before "Date: y", and a line
// without a colon sits among the others. The first characters of each line, as many as
// Name and ":" have, keep the order of the lines, so the search halves on those and finds
// the first line whose name is Name, as the unsorted search does.
int32_t TExStringList::FindSorted(const std::string& Name) const
{
    if (Name.find(':') != std::string::npos)
        return -1; // no field name holds a colon
    const std::string key = Name + ":";
    auto compareHead = [&](int32_t i) { return CompareText(Get(i).substr(0, key.size()), key); };
    int32_t lo = 0, hi = Count();
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (compareHead(mid) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < Count() && compareHead(lo) == 0 ? lo : -1;
}

void TExStringList::SetField(const std::string& Name, const std::string& Value)
{
    int32_t i = FieldIndex(Name);
    if (Value.empty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    const std::string line = Name + ": " + Value;
    if (!Sorted()) {
        if (i < 0)
            Add(line);
        else
            Put(i, line);
        return;
    }
    // A sorted list cannot change a line in place: the new line takes its own place in order.
    if (i >= 0)
        Delete(i);
    Add(line);
}
