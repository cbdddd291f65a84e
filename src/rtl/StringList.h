// An ordered list of byte-string lines, optionally kept sorted (case-insensitively).
#pragma once

#include <string>
#include <vector>

class TStringList {
public:
    TStringList() = default;
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(FLines.size()); }
    const std::string& operator[](int Index) const { return Get(Index); }
    const std::string& Get(int Index) const;
    // Replaces line Index; refused on a sorted list.
    void Put(int Index, const std::string& S);

    // Appends (or, sorted, inserts in order; an equal line already there is kept and its index returned).
    int Add(const std::string& S);
    void Insert(int Index, const std::string& S);
    void Delete(int Index);
    void Clear() { FLines.clear(); }
    // Copies Source's lines (into a sorted list: each in its place).
    void Assign(const TStringList& Source);

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);

    // Every line followed by CR LF.
    std::string Text() const;
    // Splits at CR, LF and CR LF; a final line break gives no extra line.
    void SetText(const std::string& Value);

    const std::vector<std::string>& Lines() const { return FLines; }

private:
    void CheckIndex(int Index, int Limit) const;

    std::vector<std::string> FLines;
    bool FSorted = false;
};

// Case-insensitive comparison of ASCII texts: <0, 0 or >0.
int CompareText(const std::string& A, const std::string& B);
