#include "caf/for_caf.h"

#include "diag/for_diag.h"

namespace {

// The hooks as found on first use. Binding cannot change while the process
// runs, so they are looked at once; the static's initialisation is the
// process-wide done flag and is safe against concurrent first calls.
struct Caf_Hooks {
    int (*this_image)();
    int (*team_id)();
    int (*probably_abort)();
    void (*abort)(const char *);
    void (*finalize)();
    int original_image;
};

const Caf_Hooks &hooks() {
    static const Caf_Hooks h{
        for_rtl_QCAF_THIS_IMAGE,     for_rtl_QCAF_THIS_TEAM_ID,
        for_rtl_QCAF_PROBABLY_ABORT, for_rtl_QCAF_ABORT,
        for_rtl_QCAF_FINALIZE,       for_rtl_QCAF_THIS_ORIGINAL_IMAGE ? for_rtl_QCAF_THIS_ORIGINAL_IMAGE() : 0,
    };
    return h;
}

}  // namespace

int for__caf_init(int *argc, char ***argv) {
    bool have_command_line = argc || (argv && *argv);
    if (for_rtl_QCAF_INIT && have_command_line) for_rtl_QCAF_INIT(argc, argv, for__issue_diagnostic);
    return 0;
}

int for__this_image_number_or_zero() {
    const Caf_Hooks &h = hooks();
    return h.this_image ? h.this_image() : 0;
}

int for__this_original_image_number_or_zero() { return hooks().original_image; }

int for__this_team_id_or_zero() {
    const Caf_Hooks &h = hooks();
    return h.team_id ? h.team_id() : 0;
}

int for__caf_probably_abort() {
    const Caf_Hooks &h = hooks();
    return h.probably_abort ? h.probably_abort() : 0;
}

void for__caf_abort(const char *text) {
    if (const Caf_Hooks &h = hooks(); h.abort) h.abort(text);
}

void for__caf_finalize() {
    if (const Caf_Hooks &h = hooks(); h.finalize) h.finalize();
}
