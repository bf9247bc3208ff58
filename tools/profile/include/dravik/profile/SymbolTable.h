// The functions of a firmware image and its source lines, for turning sampled PCs into names.
//
// Loaded from an Arm ELF file (a linked program: executable or shared object) with elfutils:
// the symbol table gives the functions with their sizes, the DWARF line table (when the file was
// built with -g) gives file:line. Lookups are binary searches over sorted, non-overlapping
// ranges, cheap enough for every sample of a fast capture.
//
//     dravik::profile::SymbolTable symbols;
//     std::string error;
//     if (!symbols.load("firmware.elf", error)) { fprintf(stderr, "%s\n", error.c_str()); ... }
//     if (const auto* f = symbols.functionAt(pc)) { ... f->name ... }
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravik::profile {

struct FunctionSymbol {
    std::string name;      // as in the symbol table (a C++ name stays mangled)
    uint32_t address = 0;  // first byte; the Thumb bit is cleared
    uint32_t size = 0;     // bytes, never 0

    uint64_t end() const { return uint64_t{address} + size; }  // one past the last byte
    bool contains(uint32_t pc) const { return pc >= address && pc - address < size; }
};

// Bytes [address, address + size) of code generated from one source line.
struct LineRange {
    uint32_t address = 0;
    uint32_t size = 0;
    uint32_t file = 0;  // index into SymbolTable::files()
    uint32_t line = 0;
};

struct SourceLine {
    std::string_view file;  // as the line table names it (often an absolute path)
    uint32_t line = 0;
};

class SymbolTable {
  public:
    SymbolTable() = default;

    // Reads path. Refuses, with a message naming the file, one that cannot be read, that is not
    // an ELF file, that is built for another machine than Arm, that is a relocatable object (its
    // addresses are not yet those of the program) or that has no sized function symbols
    // (stripped). A file without line information loads with hasLines() false. On failure the
    // table is left as it was.
    bool load(const std::string& path, std::string& error);

    // A table made up in memory (tests, or a caller with symbols from elsewhere). Ranges are
    // sorted and overlaps resolved as for a loaded file; functions of size 0 are left out.
    static SymbolTable fromParts(std::vector<FunctionSymbol> functions,
                                 std::vector<std::string> files = {},
                                 std::vector<LineRange> lines = {});

    // Sorted by address, non-overlapping.
    const std::vector<FunctionSymbol>& functions() const { return functions_; }
    const std::vector<std::string>& files() const { return files_; }
    // Sorted by address, non-overlapping; adjacent rows of the same line merged.
    const std::vector<LineRange>& lines() const { return lines_; }
    bool hasLines() const { return !lines_.empty(); }

    // The function whose bytes hold pc (bit 0 ignored), or null.
    const FunctionSymbol* functionAt(uint32_t pc) const;
    // Index of that function in functions(), if any.
    std::optional<size_t> functionIndexAt(uint32_t pc) const;
    // Index of the line range holding pc in lines(), if any.
    std::optional<size_t> lineIndexAt(uint32_t pc) const;
    std::optional<SourceLine> lineAt(uint32_t pc) const;
    // The function of that name (the chosen name where several share an address), or null.
    const FunctionSymbol* find(std::string_view name) const;

  private:
    void arrange();

    std::vector<FunctionSymbol> functions_;
    std::vector<uint32_t> functionStarts_;  // functions_[i].address, for the searches
    std::vector<std::string> files_;
    std::vector<LineRange> lines_;
    std::vector<uint32_t> lineStarts_;
};

}  // namespace dravik::profile
