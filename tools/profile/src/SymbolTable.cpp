#include "dravik/profile/SymbolTable.h"

#include <elf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace dravik::profile {

namespace {

// Closes what it was given, whatever path the load leaves by.
class ElfFile {
  public:
    ~ElfFile() {
        if (dwarf_ != nullptr) {
            dwarf_end(dwarf_);
        }
        if (elf_ != nullptr) {
            elf_end(elf_);
        }
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int fd_ = -1;
    Elf* elf_ = nullptr;
    Dwarf* dwarf_ = nullptr;
};

std::string machineName(unsigned machine) {
    switch (machine) {
        case EM_X86_64:
            return "x86-64";
        case EM_386:
            return "x86";
        case EM_AARCH64:
            return "AArch64";
        case EM_RISCV:
            return "RISC-V";
        case EM_XTENSA:
            return "Xtensa";
        case EM_AVR:
            return "AVR";
        default:
            return "machine " + std::to_string(machine);
    }
}

struct Candidate {
    FunctionSymbol symbol;
    int rank;  // which name wins where several symbols share an address: lower is preferred
};

// Startup code gives every unused vector a weak alias of one default handler; the strong name is
// the one the user wrote, so global beats weak beats local, then the name decides.
int bindingRank(unsigned binding) {
    switch (binding) {
        case STB_GLOBAL:
            return 0;
        case STB_WEAK:
            return 1;
        default:
            return 2;
    }
}

void readFunctions(Elf* elf, std::vector<Candidate>& out) {
    // The full symbol table if there is one, else the dynamic one.
    Elf_Scn* chosen = nullptr;
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr; scn = elf_nextscn(elf, scn)) {
        GElf_Shdr header;
        if (gelf_getshdr(scn, &header) == nullptr) {
            continue;
        }
        if (header.sh_type == SHT_SYMTAB) {
            chosen = scn;
            break;
        }
        if (header.sh_type == SHT_DYNSYM && chosen == nullptr) {
            chosen = scn;
        }
    }
    GElf_Shdr header;
    if (chosen == nullptr || gelf_getshdr(chosen, &header) == nullptr || header.sh_entsize == 0) {
        return;
    }
    Elf_Data* data = elf_getdata(chosen, nullptr);
    if (data == nullptr) {
        return;
    }
    const size_t count = header.sh_size / header.sh_entsize;
    for (size_t i = 0; i < count; ++i) {
        GElf_Sym sym;
        if (gelf_getsym(data, static_cast<int>(i), &sym) == nullptr) {
            continue;
        }
        // Symbols without a size (assembly labels with no .size) cover no known bytes.
        if (GELF_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_shndx == SHN_UNDEF ||
            sym.st_size == 0 || sym.st_value > UINT32_MAX) {
            continue;
        }
        const char* name = elf_strptr(elf, header.sh_link, sym.st_name);
        if (name == nullptr || *name == '\0') {
            continue;
        }
        Candidate c;
        c.symbol.name = name;
        c.symbol.address = static_cast<uint32_t>(sym.st_value) & ~1u;  // the Thumb bit
        c.symbol.size = static_cast<uint32_t>(std::min<uint64_t>(sym.st_size, UINT32_MAX));
        c.rank = bindingRank(GELF_ST_BIND(sym.st_info));
        out.push_back(std::move(c));
    }
}

class FileNames {
  public:
    explicit FileNames(std::vector<std::string>& files) : files_(files) {}
    uint32_t indexOf(const char* name) {
        const auto [it, added] = index_.emplace(name, static_cast<uint32_t>(files_.size()));
        if (added) {
            files_.emplace_back(name);
        }
        return it->second;
    }

  private:
    std::vector<std::string>& files_;
    std::unordered_map<std::string, uint32_t> index_;
};

// Each row of a line table covers the bytes up to the next row of its sequence.
void readLines(Dwarf* dwarf, std::vector<std::string>& files, std::vector<LineRange>& out) {
    FileNames names(files);
    Dwarf_Off offset = 0;
    Dwarf_Off next = 0;
    size_t headerSize = 0;
    while (dwarf_nextcu(dwarf, offset, &next, &headerSize, nullptr, nullptr, nullptr) == 0) {
        Dwarf_Die cu;
        Dwarf_Lines* lines = nullptr;
        size_t count = 0;
        if (dwarf_offdie(dwarf, offset + headerSize, &cu) != nullptr &&
            dwarf_getsrclines(&cu, &lines, &count) == 0) {
            for (size_t i = 0; i + 1 < count; ++i) {
                Dwarf_Line* row = dwarf_onesrcline(lines, i);
                Dwarf_Line* following = dwarf_onesrcline(lines, i + 1);
                bool endsSequence = false;
                Dwarf_Addr from = 0;
                Dwarf_Addr to = 0;
                int line = 0;
                if (row == nullptr || following == nullptr ||
                    dwarf_lineendsequence(row, &endsSequence) != 0 || endsSequence ||
                    dwarf_lineaddr(row, &from) != 0 || dwarf_lineaddr(following, &to) != 0 ||
                    dwarf_lineno(row, &line) != 0 || line <= 0 || to <= from || to > UINT32_MAX) {
                    continue;
                }
                const char* file = dwarf_linesrc(row, nullptr, nullptr);
                if (file == nullptr) {
                    continue;
                }
                out.push_back(LineRange{static_cast<uint32_t>(from),
                                        static_cast<uint32_t>(to - from), names.indexOf(file),
                                        static_cast<uint32_t>(line)});
            }
        }
        offset = next;
    }
}

// Sorted by address; where ranges overlap, the earlier one ends where the next begins, so that a
// binary search finds the one range holding an address.
template <typename Range>
void trimOverlaps(std::vector<Range>& ranges) {
    for (size_t i = 0; i + 1 < ranges.size(); ++i) {
        if (uint64_t{ranges[i].address} + ranges[i].size > ranges[i + 1].address) {
            ranges[i].size = ranges[i + 1].address - ranges[i].address;
        }
    }
    ranges.erase(
        std::remove_if(ranges.begin(), ranges.end(), [](const Range& r) { return r.size == 0; }),
        ranges.end());
}

template <typename Range>
std::optional<size_t> rangeIndexAt(const std::vector<uint32_t>& starts,
                                   const std::vector<Range>& ranges, uint32_t pc) {
    const auto after = std::upper_bound(starts.begin(), starts.end(), pc);
    if (after == starts.begin()) {
        return std::nullopt;
    }
    const size_t i = static_cast<size_t>(after - starts.begin()) - 1;
    if (pc - ranges[i].address >= ranges[i].size) {
        return std::nullopt;
    }
    return i;
}

}  // namespace

bool SymbolTable::load(const std::string& path, std::string& error) {
    ElfFile file;
    file.fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (elf_version(EV_CURRENT) == EV_NONE) {
        error = "cannot read " + path + ": " + elf_errmsg(-1);
        return false;
    }
    file.elf_ = elf_begin(file.fd_, ELF_C_READ_MMAP, nullptr);
    if (file.elf_ == nullptr || elf_kind(file.elf_) != ELF_K_ELF) {
        error = path + " is not an ELF file";
        return false;
    }
    GElf_Ehdr header;
    if (gelf_getehdr(file.elf_, &header) == nullptr) {
        error = path + " is a damaged ELF file: " + elf_errmsg(-1);
        return false;
    }
    if (header.e_machine != EM_ARM) {
        error = path + " is an ELF file for " + machineName(header.e_machine) + ", not for Arm";
        return false;
    }
    if (header.e_type == ET_REL) {
        error = path + " is a relocatable object, not a linked program";
        return false;
    }

    std::vector<Candidate> candidates;
    readFunctions(file.elf_, candidates);
    if (candidates.empty()) {
        error = path + " has no function symbols with sizes (was it stripped?)";
        return false;
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.symbol.address, a.rank, a.symbol.name) <
               std::tie(b.symbol.address, b.rank, b.symbol.name);
    });
    std::vector<FunctionSymbol> functions;
    functions.reserve(candidates.size());
    for (Candidate& c : candidates) {
        functions.push_back(std::move(c.symbol));
    }

    std::vector<std::string> files;
    std::vector<LineRange> lines;
    // No DWARF at all is no error: the file was built without -g.
    file.dwarf_ = dwarf_begin_elf(file.elf_, DWARF_C_READ, nullptr);
    if (file.dwarf_ != nullptr) {
        readLines(file.dwarf_, files, lines);
    }
    *this = fromParts(std::move(functions), std::move(files), std::move(lines));
    return true;
}

SymbolTable SymbolTable::fromParts(std::vector<FunctionSymbol> functions,
                                   std::vector<std::string> files, std::vector<LineRange> lines) {
    SymbolTable table;
    table.functions_ = std::move(functions);
    table.files_ = std::move(files);
    table.lines_ = std::move(lines);
    table.arrange();
    return table;
}

void SymbolTable::arrange() {
    for (FunctionSymbol& f : functions_) {
        f.address &= ~1u;
    }
    // A stable sort keeps the first of several functions at one address: load() puts the
    // preferred name first.
    std::stable_sort(
        functions_.begin(), functions_.end(),
        [](const FunctionSymbol& a, const FunctionSymbol& b) { return a.address < b.address; });
    functions_.erase(std::remove_if(functions_.begin(), functions_.end(),
                                    [](const FunctionSymbol& f) { return f.size == 0; }),
                     functions_.end());
    functions_.erase(std::unique(functions_.begin(), functions_.end(),
                                 [](const FunctionSymbol& a, const FunctionSymbol& b) {
                                     return a.address == b.address;
                                 }),
                     functions_.end());
    trimOverlaps(functions_);

    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const LineRange& a, const LineRange& b) { return a.address < b.address; });
    lines_.erase(std::remove_if(
                     lines_.begin(), lines_.end(),
                     [this](const LineRange& r) { return r.size == 0 || r.file >= files_.size(); }),
                 lines_.end());
    trimOverlaps(lines_);
    // Several rows for one line (is_stmt changes, views) become one range.
    std::vector<LineRange> merged;
    for (const LineRange& r : lines_) {
        if (!merged.empty() && uint64_t{merged.back().address} + merged.back().size == r.address &&
            merged.back().file == r.file && merged.back().line == r.line) {
            merged.back().size += r.size;
        } else {
            merged.push_back(r);
        }
    }
    lines_ = std::move(merged);

    functionStarts_.clear();
    for (const FunctionSymbol& f : functions_) {
        functionStarts_.push_back(f.address);
    }
    lineStarts_.clear();
    for (const LineRange& r : lines_) {
        lineStarts_.push_back(r.address);
    }
}

std::optional<size_t> SymbolTable::functionIndexAt(uint32_t pc) const {
    return rangeIndexAt(functionStarts_, functions_, pc & ~1u);
}

const FunctionSymbol* SymbolTable::functionAt(uint32_t pc) const {
    const std::optional<size_t> i = functionIndexAt(pc);
    return i ? &functions_[*i] : nullptr;
}

std::optional<size_t> SymbolTable::lineIndexAt(uint32_t pc) const {
    return rangeIndexAt(lineStarts_, lines_, pc & ~1u);
}

std::optional<SourceLine> SymbolTable::lineAt(uint32_t pc) const {
    const std::optional<size_t> i = lineIndexAt(pc);
    if (!i) {
        return std::nullopt;
    }
    return SourceLine{files_[lines_[*i].file], lines_[*i].line};
}

const FunctionSymbol* SymbolTable::find(std::string_view name) const {
    for (const FunctionSymbol& f : functions_) {
        if (f.name == name) {
            return &f;
        }
    }
    return nullptr;
}

}  // namespace dravik::profile
