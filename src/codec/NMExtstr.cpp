#include "NMExtstr.h"

namespace {

// The text before the first ":"; a line without one has the empty name.
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

int32_t TExStringList::FindSorted(const std::string& Name) const
{
    int32_t lo = 0, hi = Count() - 1;
    while (lo <= hi) {
        int32_t mid = lo + (hi - lo) / 2;
        int order = CompareText(FieldName(Get(mid)), Name);
        if (order == 0)
            return mid;
        if (order < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
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
