// Message lookup through the message catalog vorlix_msg.cat, and the
// diagnostic headers that a catalog may translate.
//
// The catalog is tried once per process, at the first lookup. A catalog
// text is a printf format that receives the arguments meant for the
// built-in text, so it is used only when its conversions are the same.
#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "diag/for_msgtab.h"

#include <dlfcn.h>
#include <limits.h>
#include <nl_types.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char catalog_name[] = "vorlix_msg.cat";
constexpr int catalog_set = 1;
const nl_catd no_catalog = reinterpret_cast<nl_catd>(-1);

// Messages whose catalog texts replace the header table entries 0 to 6.
constexpr int header_messages[7] = {msg::header_plain, msg::header_info,  msg::header_warning,
                                     msg::header_error, msg::header_severe, msg::image_line,
                                     msg::image_team_line};
constexpr const char *builtin_headers[7] = {
    "forrtl: ",
    "forrtl: info (%i): ",
    "forrtl: warning (%i): ",
    "forrtl: error (%i): ",
    "forrtl: severe (%i): ",
    "In coarray image %d\n",
    "In coarray image %d (original image %d, team %d)\n",
};

nl_catd message_catalog = no_catalog;
std::atomic<bool> catalog_mode{false};
pthread_once_t catalog_once = PTHREAD_ONCE_INIT;

// Replaced texts live in copies of their own: a header must stay valid
// after catclose, while a diagnostic of another thread may still print it.
std::atomic<const char *> headers[7] = {
    builtin_headers[0], builtin_headers[1], builtin_headers[2], builtin_headers[3],
    builtin_headers[4], builtin_headers[5], builtin_headers[6],
};
char *header_copies[7];
char forrtl_header[16] = "forrtl";

// A locale value is used in file names: a value with '/' could walk out of
// the catalog directories, so setuid programs (secure_getenv) ignore them.
bool copy_env(const char *name, char *out, std::size_t room)
{
    const char *v = secure_getenv(name);
    if (!v || !*v)
        return false;
    std::size_t n = std::strlen(v);
    if (n >= room)
        return false;
    std::memcpy(out, v, n + 1);
    return true;
}

struct Locale_Parts {
    std::string_view whole, language, territory, codeset;
};

// language[_territory][.codeset][@modifier]
Locale_Parts split_locale(std::string_view loc)
{
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
bool expand_template(std::string_view tmpl, const Locale_Parts &loc, char *out, std::size_t room)
{
    std::size_t n = 0;
    auto put = [&](std::string_view s) {
        if (s.size() >= room - n)
            return false;
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
        if (!ok)
            return false;
    }
    out[n] = '\0';
    return true;
}

// The C library searches NLSPATH and then its own directories with the
// whole LANG value. The same search with the codeset cut off finds a
// catalog kept under de_DE for LANG=de_DE.UTF-8. The library expands the
// templates itself rather than changing LANG for a second catopen: that
// would race with every other thread that reads the environment.
nl_catd open_for_locale(std::string_view locale)
{
    static constexpr std::string_view system_path =
        "/usr/share/locale/%L/%N:/usr/share/locale/%L/LC_MESSAGES/%N:"
        "/usr/share/locale/%l/%N:/usr/share/locale/%l/LC_MESSAGES/%N";
    char nlspath[4096];
    std::string_view paths[2] = {{}, system_path};
    if (copy_env("NLSPATH", nlspath, sizeof nlspath))
        paths[0] = nlspath;
    const Locale_Parts loc = split_locale(locale);
    for (std::string_view list : paths) {
        while (!list.empty()) {
            std::size_t colon = list.find(':');
            std::string_view tmpl = list.substr(0, colon);
            list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
            char path[PATH_MAX];
            // A name without '/' would send catopen searching again.
            if (tmpl.empty() || tmpl.find('/') == std::string_view::npos ||
                !expand_template(tmpl, loc, path, sizeof path))
                continue;
            nl_catd cat = catopen(path, 0);
            if (cat != no_catalog)
                return cat;
        }
    }
    return no_catalog;
}

// An installed library keeps its catalog beside itself, where no
// environment has to point.
nl_catd open_beside_library()
{
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&get_message), &info) || !info.dli_fname)
        return no_catalog;
    const char *slash = std::strrchr(info.dli_fname, '/');
    if (!slash)
        return no_catalog;
    char path[PATH_MAX];
    std::size_t dir = static_cast<std::size_t>(slash - info.dli_fname) + 1;
    if (dir + sizeof catalog_name > sizeof path)
        return no_catalog;
    std::memcpy(path, info.dli_fname, dir);
    std::memcpy(path + dir, catalog_name, sizeof catalog_name);
    return catopen(path, 0);
}

nl_catd find_catalog()
{
    nl_catd cat = catopen(catalog_name, 0);
    if (cat != no_catalog)
        return cat;
    char lang[261];
    if (copy_env("LANG", lang, sizeof lang)) {
        if (char *dot = std::strchr(lang, '.')) {
            *dot = '\0';
            cat = open_for_locale(lang);
            if (cat != no_catalog)
                return cat;
        }
    }
    return open_beside_library();
}

const char *catalog_text(const For_Msg_Row &row)
{
    if (!catalog_mode.load(std::memory_order_acquire))
        return row.text;
    const char *t = catgets(message_catalog, catalog_set, static_cast<int>(row.number), row.text);
    if (t == nullptr || t == row.text)
        return row.text;
    // Computing a signature allocates; without memory the built-in text
    // is the safe answer, and nothing may be thrown out of the library.
    try {
        return for__printf_signature(t) == row.signature ? t : row.text;
    } catch (...) {
        return row.text;
    }
}

void open_catalog()
{
    message_catalog = find_catalog();
    if (message_catalog == no_catalog)
        return;
    catalog_mode.store(true, std::memory_order_release);
    for (int i = 0; i < 7; ++i) {
        const For_Msg_Row *row = for__msg_row(header_messages[i]);
        const char *t = row ? catalog_text(*row) : nullptr;
        if (!t || t == builtin_headers[i])
            continue;
        header_copies[i] = strdup(t);
        if (header_copies[i])
            headers[i].store(header_copies[i], std::memory_order_release);
    }
    if (const For_Msg_Row *row = for__msg_row(msg::header_forrtl)) {
        // At most 15 characters are kept, as the prefix of perror lines.
        const char *t = catalog_text(*row);
        size_t n = strnlen(t, sizeof forrtl_header - 1);
        std::memcpy(forrtl_header, t, n);
        forrtl_header[n] = '\0';
    }
}

}  // namespace

int get_message(int number, int *severity, const char **text)
{
    pthread_once(&catalog_once, open_catalog);
    const For_Msg_Row *row = for__msg_row(number);
    if (!row)
        return 1;
    *severity = static_cast<int>(row->severity);
    *text = catalog_text(*row);
    return 0;
}

const char *for__msg_header(int index)
{
    pthread_once(&catalog_once, open_catalog);
    if (index < 0 || index > 6)
        return "";
    return headers[index].load(std::memory_order_acquire);
}

const char *for__forrtl_header()
{
    pthread_once(&catalog_once, open_catalog);
    return forrtl_header;
}

void for__message_catalog_close()
{
    // Spending the once-guard keeps a later lookup from opening the
    // catalog: diagnostics of exit handling use the built-in texts. A
    // program that never needed a message never opens it at all.
    pthread_once(&catalog_once, [] {});
    if (!catalog_mode.exchange(false))
        return;
    catclose(message_catalog);
    message_catalog = no_catalog;
    for (int i = 0; i < 7; ++i) {
        headers[i].store(builtin_headers[i], std::memory_order_release);
        std::free(header_copies[i]);
        header_copies[i] = nullptr;
    }
    std::strcpy(forrtl_header, "forrtl");
}
