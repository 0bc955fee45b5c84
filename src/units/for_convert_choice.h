// Where the representation of a unit's unformatted data comes from: the
// compile-time default of the statement flags, CONVERT=, F_UFMTENDIAN, a
// variable named after the file's extension and one named after the unit
// number, each overriding the ones before. OPEN decides it into its plan;
// only the commit of the connection writes it to the unit.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include <vorlix/abi.h>

struct For_Lub;
struct For_Open_Args;

// A unit's representation as lub_flags (lubf::foreign, lubf::big_endian)
// and lub_convert hold it.
struct For_Conversion {
    bool foreign = false;
    bool big_endian = false;
    uint8_t code = 0;  // 0 native IEEE, 1 VAXG, 2 VAXD, 3 IBM, 4 CRAY, 5 FDX, 6 FGX

    static For_Conversion of(const For_Lub *lub);
    void store(For_Lub *lub) const;
    void store(uint64_t *flags, uint8_t *code) const;
};

// The representation a compiler chose for the program, carried in the
// flag word (bits 8 to 15 the code, bit 16 big-endian); false when it
// chose none.
bool for__compiled_conversion(For_IO_Flags flags, For_Conversion *c);

// Sets the representation named by a keyword value ("BIG_ENDIAN", "VAXD",
// ...; any case, at most 20 characters). 0, or msg::inconsistent_open_close
// for a value that names none (the conversion is then foreign without a
// code, as the value would have left it, and the OPEN fails).
int for__set_conversion_option(For_Conversion *c, std::string_view value);

// The representation of a connection to `file_name` on `unit`, from the
// starting one in `c` (the compile-time default, or the connection's own
// at a re-OPEN) through CONVERT= and the environment. 0, or the status
// of a variable naming no representation (the OPEN fails with it), or
// msg::invalid_argument for a CONVERT= number outside its table.
int for__set_foreign_bits(For_Conversion *c, const For_Open_Args &args, int unit, std::string_view file_name);

// The extension of a file name: the characters after the last '.' of its
// last path component, a '.' that ends the name not counted. Empty when
// there is none.
std::string_view for__file_extension(std::string_view file_name);
