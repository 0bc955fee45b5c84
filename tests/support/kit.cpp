#include "support/kit.h"

namespace kit {

int List::groups() const { return static_cast<int>(group_starts_.size()) + 1; }

std::pair<const For_Dsc_Lst *, const For_Value_List *> List::group(int g) const {
    if (g == 0) return {dsc(), val()};
    auto [d, v] = group_starts_.at(static_cast<size_t>(g - 1));
    return {dsc_.data() + d, v < val_.size() ? val_.data() + v : &empty_slot_};
}

void Control::build() {
    out_dsc_ = dsc_;
    out_val_ = val_;
    out_dsc_.insert(out_dsc_.end(), {FOR_TYPE_END_STMT, 0});
    if (has_advance_) {
        out_dsc_.insert(out_dsc_.end(), {FOR_TYPE_CHARACTER, FOR_FORM_CHAR});
        out_val_.push_back(advance_.second);
        out_val_.push_back(a(advance_.first));
    }
    if (size_addr_) {
        out_dsc_.insert(out_dsc_.end(), {static_cast<uint8_t>(size_type_), FOR_FORM_ADDR});
        out_val_.push_back(a(size_addr_));
    }
    if (out_val_.empty()) out_val_.push_back(0);  // a value list is never a null pointer
}

const For_Dsc_Lst *Control::dsc() {
    build();
    return out_dsc_.data();
}

const For_Value_List *Control::val() {
    if (out_dsc_.empty()) build();
    return out_val_.data();
}

For_IO_Flags Stmt::flag_word() {
    For_IO_Flags f = flags;
    if (control.has_keys()) f |= iof_keys | iof_ext;
    if (control.has_advance()) f |= iof_advance;
    if (control.has_size()) f |= iof_size;
    return f;
}

int Stmt::rest(Xmit xmit, int first) {
    if (first != 0 || !xmit) return first;
    for (int g = 1; g < items.groups(); ++g) {
        auto [d, v] = items.group(g);
        if (int s = xmit(&ctx, d, v)) return s;
    }
    return 0;
}

int Stmt::run(Seq_Entry entry, Xmit xmit) {
    For_IO_Flags f = flag_word();
    const For_Dsc_Lst *cd = cdsc();
    const For_Value_List *cv = cd ? control.val() : nullptr;
    return rest(xmit, entry(&ctx, unit, f, items.dsc(), items.val(), cd, cv));
}

int Stmt::run(Seq_Fmt_Entry entry, const void *fmt, Xmit xmit) {
    For_IO_Flags f = flag_word();
    const For_Dsc_Lst *cd = cdsc();
    const For_Value_List *cv = cd ? control.val() : nullptr;
    return rest(xmit, entry(&ctx, unit, f, items.dsc(), items.val(), fmt, cd, cv));
}

int Stmt::run(Int_Entry entry, Xmit xmit) {
    For_IO_Flags f = flag_word();
    const For_Dsc_Lst *cd = cdsc();
    const For_Value_List *cv = cd ? control.val() : nullptr;
    return rest(xmit, entry(&ctx, f, items.dsc(), items.val(), cd, cv));
}

int Stmt::run(Int_Fmt_Entry entry, const void *fmt, Xmit xmit) {
    For_IO_Flags f = flag_word();
    const For_Dsc_Lst *cd = cdsc();
    const For_Value_List *cv = cd ? control.val() : nullptr;
    return rest(xmit, entry(&ctx, f, items.dsc(), items.val(), fmt, cd, cv));
}

int Stmt::run(Dir_Entry entry, int64_t rec, Xmit xmit) {
    For_IO_Flags f = flag_word();
    const For_Dsc_Lst *cd = cdsc();
    const For_Value_List *cv = cd ? control.val() : nullptr;
    return rest(xmit, entry(&ctx, unit, f, items.dsc(), items.val(), rec, cd, cv));
}

int Stmt::run(Dir_Fmt_Entry entry, int64_t rec, const void *fmt, Xmit xmit) {
    For_IO_Flags f = flag_word();
    const For_Dsc_Lst *cd = cdsc();
    const For_Value_List *cv = cd ? control.val() : nullptr;
    return rest(xmit, entry(&ctx, unit, f, items.dsc(), items.val(), rec, fmt, cd, cv));
}

}  // namespace kit
