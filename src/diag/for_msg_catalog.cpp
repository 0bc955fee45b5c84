// Message lookup through the message catalog vorlix_msg.cat, and the
// diagnostic headers that a catalog may translate.
//
// The catalog is tried once per process, at the first lookup. A catalog
// text is a printf format that receives the arguments meant for the
// built-in text, so it is used only when its conversions are the same.
//
// The library reads the catalog file itself rather than through catopen:
// the C library trusts the header's table sizes and faults on a file that
// lies about them. Here the whole file is read into memory and every size
// and offset is checked before any text is used, and the memory is never
// given back, so a thread still printing a text when the library shuts
// down reads what it read before.
#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "diag/for_msgtab.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char catalog_name[] = "vorlix_msg.cat";
constexpr int catalog_set = 1;

// The catalog file: a header of magic, plane size and plane depth (32 bits
// each, in the writer's byte order), then two index tables of plane size x
// plane depth entries of (set, message, string offset), the first little
// endian, the second big endian, then the NUL-terminated strings. A message
// of set s is kept as set s + 1, in plane ((s + 1) x message) mod plane
// size of one of the depths.
constexpr uint32_t catalog_magic = 0x960408deu;
constexpr std::size_t catalog_header_bytes = 12;
constexpr std::size_t catalog_entry_bytes = 2 * 3 * sizeof(uint32_t);
// Far above any translation of the table, far below what would hurt.
constexpr off_t max_catalog_bytes = 16 << 20;

struct Catalog {
    const uint32_t *table = nullptr;  // the little-endian index
    const char *strings = nullptr;
    std::size_t strings_size = 0;
    uint64_t plane_size = 0, plane_depth = 0;
};

// Written once, inside the once-guard, before catalog_mode says it may be
// read; never freed.
Catalog message_catalog;

// Messages whose catalog texts replace the header table entries 0 to 6.
constexpr int header_messages[7] = {msg::header_plain,  msg::header_info, msg::header_warning, msg::header_error,
                                    msg::header_severe, msg::image_line,  msg::image_team_line};
constexpr const char *builtin_headers[7] = {
    "forrtl: ",
    "forrtl: info (%i): ",
    "forrtl: warning (%i): ",
    "forrtl: error (%i): ",
    "forrtl: severe (%i): ",
    "In coarray image %d\n",
    "In coarray image %d (original image %d, team %d)\n",
};
constexpr const char builtin_forrtl[] = "forrtl";

std::atomic<bool> catalog_mode{false};
pthread_once_t catalog_once = PTHREAD_ONCE_INIT;

// Replaced texts point into the catalog's memory, which outlives the
// catalog's use: a diagnostic of another thread may still print a header
// after shutdown put the built-in ones back.
std::atomic<const char *> headers[7] = {
    builtin_headers[0], builtin_headers[1], builtin_headers[2], builtin_headers[3],
    builtin_headers[4], builtin_headers[5], builtin_headers[6],
};
char forrtl_copy[16];
std::atomic<const char *> forrtl_header{builtin_forrtl};

uint32_t load_u32(const char *p, bool swapped) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return swapped ? __builtin_bswap32(v) : v;
}

// Checks a catalog image of `size` bytes and describes it in *out; false
// when any size or offset would reach outside the image.
bool parse_catalog(const char *data, std::size_t size, Catalog *out) {
    if (size < catalog_header_bytes) return false;
    const uint32_t magic = load_u32(data, false);
    const bool swapped = magic == __builtin_bswap32(catalog_magic);
    if (magic != catalog_magic && !swapped) return false;
    const uint64_t plane_size = load_u32(data + 4, swapped);
    const uint64_t plane_depth = load_u32(data + 8, swapped);
    if (plane_size == 0 || plane_depth == 0) return false;
    const uint64_t entries = plane_size * plane_depth;  // no overflow: both below 2^32
    if (entries > (size - catalog_header_bytes) / catalog_entry_bytes) return false;
    const std::size_t strings_at = catalog_header_bytes + static_cast<std::size_t>(entries) * catalog_entry_bytes;
    if (strings_at >= size || data[size - 1] != '\0') return false;  // every string must end inside the image
    const uint32_t *table = reinterpret_cast<const uint32_t *>(data + catalog_header_bytes);
    const std::size_t strings_size = size - strings_at;
    for (uint64_t e = 0; e < entries; ++e) {
        uint32_t offset;
        std::memcpy(&offset, &table[3 * e + 2], sizeof offset);
        if (offset >= strings_size) return false;
    }
    *out = {table, data + strings_at, strings_size, plane_size, plane_depth};
    return true;
}

bool read_all(int fd, char *out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, out + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads and checks the catalog at `path`; true when it is the one to use.
bool load_catalog(const char *path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= static_cast<off_t>(catalog_header_bytes) &&
              st.st_size <= max_catalog_bytes;
    const std::size_t size = ok ? static_cast<std::size_t>(st.st_size) : 0;
    // Aligned for the index tables, which are read as 32-bit words.
    char *data =
        ok ? static_cast<char *>(std::aligned_alloc(alignof(uint32_t), (size + 3) & ~std::size_t{3})) : nullptr;
    ok = data && read_all(fd, data, size);
    ::close(fd);
    Catalog cat;
    if (!ok || !parse_catalog(data, size, &cat)) {
        std::free(data);
        return false;
    }
    message_catalog = cat;
    return true;
}

// The catalog's text of message `number` of `set`, or null. The writer
// stores a set as its number plus one, and places a message by that.
const char *lookup(int set, int number) {
    const Catalog &c = message_catalog;
    if (set < 0 || number < 0) return nullptr;
    const uint64_t stored_set = static_cast<uint64_t>(set) + 1;
    const uint64_t key = stored_set * static_cast<uint64_t>(number);
    uint64_t index = (key % c.plane_size) * 3;
    for (uint64_t depth = 0; depth < c.plane_depth; ++depth, index += 3 * c.plane_size) {
        if (c.table[index] == stored_set && c.table[index + 1] == static_cast<uint32_t>(number))
            return c.strings + c.table[index + 2];
    }
    return nullptr;
}

// A locale value is used in file names: a value with '/' could walk out of
// the catalog directories, so setuid programs (secure_getenv) ignore them.
bool copy_env(const char *name, char *out, std::size_t room) {
    const char *v = secure_getenv(name);
    if (!v || !*v) return false;
    std::size_t n = std::strlen(v);
    if (n >= room) return false;
    std::memcpy(out, v, n + 1);
    return true;
}

struct Locale_Parts {
    std::string_view whole, language, territory, codeset;
};

// language[_territory][.codeset][@modifier]
Locale_Parts split_locale(std::string_view loc) {
    Locale_Parts p{loc, loc, {}, {}};
    std::size_t end = loc.find_first_of("_.@");
    p.language = loc.substr(0, end);
    if (end != std::string_view::npos && loc[end] == '_') {
        std::size_t t_end = loc.find_first_of(".@", end + 1);
        p.territory = loc.substr(end + 1, t_end == std::string_view::npos ? loc.npos : t_end - end - 1);
        end = t_end;
    }
    if (end != std::string_view::npos && loc[end] == '.') {
        std::size_t c_end = loc.find('@', end + 1);
        p.codeset = loc.substr(end + 1, c_end == std::string_view::npos ? loc.npos : c_end - end - 1);
    }
    return p;
}

// Expands one NLSPATH template into out; false when it does not fit.
bool expand_template(std::string_view tmpl, const Locale_Parts &loc, char *out, std::size_t room) {
    std::size_t n = 0;
    auto put = [&](std::string_view s) {
        if (s.size() >= room - n) return false;
        std::memcpy(out + n, s.data(), s.size());
        n += s.size();
        return true;
    };
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        bool ok;
        if (tmpl[i] != '%' || i + 1 == tmpl.size()) {
            ok = put(tmpl.substr(i, 1));
        } else {
            switch (tmpl[++i]) {
            case 'N': ok = put(catalog_name); break;
            case 'L': ok = put(loc.whole); break;
            case 'l': ok = put(loc.language); break;
            case 't': ok = put(loc.territory); break;
            case 'c': ok = put(loc.codeset); break;
            case '%': ok = put("%"); break;
            default: ok = put(tmpl.substr(i - 1, 2)); break;
            }
        }
        if (!ok) return false;
    }
    out[n] = '\0';
    return true;
}

// The search of the C library's catopen: the NLSPATH templates and then the
// system's own directories, with the whole LANG value ("C" without one).
// The same search with the codeset cut off then finds a catalog kept under
// de_DE for LANG=de_DE.UTF-8. The library expands the templates itself
// rather than changing LANG for a second search: that would race with
// every other thread that reads the environment.
bool open_for_locale(std::string_view locale) {
    static constexpr std::string_view system_path =
        "/usr/share/locale/%L/%N:/usr/share/locale/%L/LC_MESSAGES/%N:"
        "/usr/share/locale/%l/%N:/usr/share/locale/%l/LC_MESSAGES/%N";
    char nlspath[4096];
    std::string_view paths[2] = {{}, system_path};
    if (copy_env("NLSPATH", nlspath, sizeof nlspath)) paths[0] = nlspath;
    const Locale_Parts loc = split_locale(locale);
    for (std::string_view list : paths) {
        while (!list.empty()) {
            std::size_t colon = list.find(':');
            std::string_view tmpl = list.substr(0, colon);
            list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
            char path[PATH_MAX];
            if (tmpl.empty() || !expand_template(tmpl, loc, path, sizeof path)) continue;
            if (load_catalog(path)) return true;
        }
    }
    return false;
}

// An installed library keeps its catalog beside itself, where no
// environment has to point.
bool open_beside_library() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&get_message), &info) || !info.dli_fname) return false;
    const char *slash = std::strrchr(info.dli_fname, '/');
    if (!slash) return false;
    char path[PATH_MAX];
    std::size_t dir = static_cast<std::size_t>(slash - info.dli_fname) + 1;
    if (dir + sizeof catalog_name > sizeof path) return false;
    std::memcpy(path, info.dli_fname, dir);
    std::memcpy(path + dir, catalog_name, sizeof catalog_name);
    return load_catalog(path);
}

bool find_catalog() {
    char lang[261];
    const bool has_lang = copy_env("LANG", lang, sizeof lang);
    if (open_for_locale(has_lang ? lang : "C")) return true;
    if (has_lang) {
        if (char *dot = std::strchr(lang, '.')) {
            *dot = '\0';
            if (open_for_locale(lang)) return true;
        }
    }
    return open_beside_library();
}

const char *catalog_text(const For_Msg_Row &row) {
    if (!catalog_mode.load(std::memory_order_acquire)) return row.text;
    const char *t = lookup(catalog_set, static_cast<int>(row.number));
    if (t == nullptr) return row.text;
    // Computing a signature allocates; without memory the built-in text
    // is the safe answer, and nothing may be thrown out of the library.
    try {
        return for__printf_signature(t) == row.signature ? t : row.text;
    } catch (...) {
        return row.text;
    }
}

void open_catalog() {
    if (!find_catalog()) return;
    catalog_mode.store(true, std::memory_order_release);
    for (int i = 0; i < 7; ++i) {
        const For_Msg_Row *row = for__msg_row(header_messages[i]);
        const char *t = row ? catalog_text(*row) : nullptr;
        if (t && t != row->text) headers[i].store(t, std::memory_order_release);
    }
    if (const For_Msg_Row *row = for__msg_row(msg::header_forrtl)) {
        // At most 15 characters are kept, as the prefix of perror lines.
        const char *t = catalog_text(*row);
        size_t n = strnlen(t, sizeof forrtl_copy - 1);
        std::memcpy(forrtl_copy, t, n);
        forrtl_copy[n] = '\0';
        forrtl_header.store(forrtl_copy, std::memory_order_release);
    }
}

}  // namespace

int get_message(int number, int *severity, const char **text) {
    pthread_once(&catalog_once, open_catalog);
    const For_Msg_Row *row = for__msg_row(number);
    if (!row) return 1;
    *severity = static_cast<int>(row->severity);
    *text = catalog_text(*row);
    return 0;
}

const char *for__msg_header(int index) {
    pthread_once(&catalog_once, open_catalog);
    if (index < 0 || index > 6) return "";
    return headers[index].load(std::memory_order_acquire);
}

const char *for__forrtl_header() {
    pthread_once(&catalog_once, open_catalog);
    return forrtl_header.load(std::memory_order_acquire);
}

void for__message_catalog_close() {
    // Spending the once-guard keeps a later lookup from opening the
    // catalog: diagnostics of exit handling use the built-in texts. A
    // program that never needed a message never opens it at all. Nothing
    // is freed: another thread may be printing a catalog text right now.
    pthread_once(&catalog_once, [] {});
    if (!catalog_mode.exchange(false)) return;
    for (int i = 0; i < 7; ++i) headers[i].store(builtin_headers[i], std::memory_order_release);
    forrtl_header.store(builtin_forrtl, std::memory_order_release);
}
