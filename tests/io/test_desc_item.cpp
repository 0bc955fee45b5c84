// Reading items out of descriptor and value lists, form by form.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "diag/for_msgnum.h"
#include "io/for_desc_item.h"
#include "io/for_stmt.h"
#include "support/kit.h"

namespace {

struct Read {
    int status;
    For_Item item;
    For_Shape shape;
};

std::vector<Read> read_all(const kit::List &l) {
    const For_Dsc_Lst *d = l.dsc();
    const For_Value_List *v = l.val();
    std::vector<Read> out;
    for (;;) {
        Read r{};
        r.status = for__desc_ret_item(&d, &v, &r.item, &r.shape);
        out.push_back(r);
        if (r.status != 0 || r.item.type == FOR_TYPE_END_STMT) return out;
    }
}

// Collects the element addresses an item visits.
std::vector<char *> elements(const Read &r) {
    std::vector<char *> out;
    for__each_element(r.item, r.shape, [&](char *p) {
        out.push_back(p);
        return 0;
    });
    return out;
}

TEST(DescItem, ScalarFormsGiveAddressLengthAndType) {
    int32_t i4 = 7;
    double r8 = 1.5;
    std::complex<double> z{1, 2};
    kit::Logical2 l2{1};
    __float128 q = 3;
    kit::List l;
    l.item(i4).item(r8).item(z).item(l2).item(q).end();
    auto rs = read_all(l);
    ASSERT_EQ(rs.size(), 6u);
    struct Want {
        void *addr;
        int type;
        int64_t length, elem_size;
    } want[] = {{&i4, FOR_TYPE_INT4, 4, 4},
                {&r8, FOR_TYPE_REAL8, 8, 8},
                {&z, FOR_TYPE_COMPLEX8, 16, 8},  // a complex reports the size of one part
                {&l2, FOR_TYPE_LOGICAL2, 2, 2},
                {&q, FOR_TYPE_REAL16, 16, 16}};
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rs[i].status, 0);
        EXPECT_EQ(rs[i].item.addr, want[i].addr);
        EXPECT_EQ(rs[i].item.type, want[i].type);
        EXPECT_EQ(rs[i].item.length, want[i].length);
        EXPECT_EQ(rs[i].item.elem_size, want[i].elem_size);
        EXPECT_EQ(elements(rs[i]).size(), 1u);
    }
    EXPECT_EQ(rs[5].item.type, FOR_TYPE_END_STMT);
}

TEST(DescItem, InlineValuesTakeTheirTypesSlotCount) {
    kit::List l;
    l.value(int32_t{-5}).value(__float128{2}).value(std::complex<float>{3, 4}).value(int64_t{9}).end();
    auto rs = read_all(l);
    ASSERT_EQ(rs.size(), 5u);
    EXPECT_EQ(*static_cast<int32_t *>(rs[0].item.addr), -5);
    __float128 q;  // slots are only 8-byte aligned
    std::memcpy(&q, rs[1].item.addr, sizeof q);
    EXPECT_TRUE(q == 2);
    auto *c = static_cast<std::complex<float> *>(rs[2].item.addr);
    EXPECT_EQ(c->real(), 3);
    EXPECT_EQ(c->imag(), 4);
    EXPECT_EQ(*static_cast<int64_t *>(rs[3].item.addr), 9);
}

TEST(DescItem, CharacterScalarAndArrays) {
    char s[] = "hello";
    char names[3][4] = {{'a', 'b', 'c', 'd'}, {'e', 'f', 'g', 'h'}, {'i', 'j', 'k', 'l'}};
    int32_t a[6] = {1, 2, 3, 4, 5, 6};
    kit::List l;
    l.chars(s, 5).char_array(&names[0][0], 3, 4).array(a, 6).end();
    auto rs = read_all(l);
    EXPECT_EQ(rs[0].item.length, 5);
    EXPECT_EQ(rs[0].item.elem_size, 5);
    EXPECT_EQ(rs[1].item.length, 12);
    EXPECT_EQ(rs[1].item.elem_size, 4);
    EXPECT_EQ(elements(rs[1]), (std::vector<char *>{names[0], names[1], names[2]}));
    auto e = elements(rs[2]);
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[5], reinterpret_cast<char *>(&a[5]));
}

TEST(DescItem, SectionsStepInArrayElementOrder) {
    // a(1:10:2) of a(10), and b(2:3, 1:3:2) of b(3,3): first subscript fastest.
    int32_t a[10];
    double b[9];  // b(i,j) = b[(i-1) + 3*(j-1)]
    kit::Section bs{FOR_TYPE_REAL8, &b[1], 0, {{2, 3, 8}, {1, 2, 48}}};
    kit::List l;
    l.section(kit::slice(a, 1, 10, 2)).section(bs).end();
    auto rs = read_all(l);
    ASSERT_EQ(rs[0].status, 0);
    EXPECT_EQ(rs[0].item.length, 5 * 4);
    std::vector<char *> want_a;
    for (int i = 0; i < 10; i += 2) want_a.push_back(reinterpret_cast<char *>(&a[i]));
    EXPECT_EQ(elements(rs[0]), want_a);
    std::vector<char *> want_b;
    for (int j : {1, 3})
        for (int i : {2, 3}) want_b.push_back(reinterpret_cast<char *>(&b[(i - 1) + 3 * (j - 1)]));
    EXPECT_EQ(rs[1].shape.rank, 2);
    EXPECT_EQ(rs[1].item.length, 4 * 8);
    EXPECT_EQ(elements(rs[1]), want_b);
}

TEST(DescItem, SectionWithElementLengthAndNegativeStride) {
    char words[4][3];
    // words(4:1:-1) as a form 8 section of CHARACTER(3) elements.
    kit::Section s{FOR_TYPE_CHARACTER, &words[3][0], 3, {{1, 4, -3}}};
    kit::List l;
    l.section(s).end();
    auto rs = read_all(l);
    ASSERT_EQ(rs[0].status, 0);
    EXPECT_EQ(rs[0].item.length, 12);
    EXPECT_EQ(rs[0].item.elem_size, 3);
    EXPECT_EQ(elements(rs[0]), (std::vector<char *>{words[3], words[2], words[1], words[0]}));
}

TEST(DescItem, EmptyArraysHaveNoElements) {
    int32_t a[1];
    kit::Section empty{FOR_TYPE_INT4, a, 0, {{1, 0, 4}, {1, 5, 4}}};
    kit::List l;
    l.array(a, 0).section(empty).end();
    auto rs = read_all(l);
    EXPECT_EQ(rs[0].item.length, 0);
    EXPECT_TRUE(elements(rs[0]).empty());
    EXPECT_EQ(rs[1].item.length, 0);
    EXPECT_TRUE(elements(rs[1]).empty());
}

TEST(DescItem, ValueAddressAndObjectDescriptorForms) {
    int32_t x = 0;
    unsigned char desc[16] = {0xff};
    kit::List l;
    l.value_addr(FOR_TYPE_INT4, 42, &x).obj_desc(FOR_TYPE_DERIVED_UDIO, 7, desc).end();
    auto rs = read_all(l);
    EXPECT_EQ(rs[0].item.value, 42u);
    EXPECT_EQ(rs[0].item.addr, &x);
    EXPECT_EQ(rs[1].item.value, 7u);
    EXPECT_EQ(rs[1].item.obj_desc, desc);
    EXPECT_EQ(desc[0], 0xff & ~0x40) << "reading the item clears the unread mark";
}

TEST(DescItem, BadListsAreRefused) {
    struct Case {
        const char *what;
        int type, form;
        std::initializer_list<uint64_t> slots;
        int status;
    } cases[] = {
        {"type above 70", 71, 3, {0}, 48},
        {"form 0", FOR_TYPE_INT4, 0, {0}, 48},
        {"form 13", FOR_TYPE_INT4, 13, {0}, 48},
        {"form 2 is never generated", FOR_TYPE_INT4, 2, {0}, 8},
        {"form 9 is never generated", FOR_TYPE_INT4, 9, {0}, 8},
        {"unassigned type code 3", 3, 3, {0}, 8},
        {"rank 0 section", FOR_TYPE_INT4, 7, {0, 0}, 48},
        {"rank 32 section", FOR_TYPE_INT4, 7, {32, 0}, 48},
        {"extent product overflows", FOR_TYPE_INT4, 7, {2, 0, 1, 1ull << 40, 4, 1, 1ull << 40, 4}, 48},
        {"character array without element length", FOR_TYPE_CHARACTER, 5, {8, 0}, 48},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        kit::List l;
        l.raw(c.type, c.form, c.slots).end();
        EXPECT_EQ(read_all(l)[0].status, c.status);
    }
    const For_Dsc_Lst *null_dsc = nullptr;
    const For_Value_List *v = nullptr;
    For_Item item;
    For_Shape shape;
    EXPECT_EQ(for__desc_ret_item(&null_dsc, &v, &item, &shape), msg::invalid_argument);
    const For_Dsc_Lst only_int[] = {FOR_TYPE_INT4, FOR_FORM_ADDR};
    const For_Dsc_Lst *d = only_int;
    EXPECT_EQ(for__desc_ret_item(&d, &v, &item, &shape), msg::invalid_argument) << "null value cursor";
    const For_Dsc_Lst end_only[] = {FOR_TYPE_END_STMT, 0};
    d = end_only;
    EXPECT_EQ(for__desc_ret_item(&d, &v, &item, &shape), 0) << "markers need no values";
}

TEST(DescItem, LookAheadSkipsEmptyArrays) {
    int32_t a[1], x = 0;
    struct Case {
        const char *what;
        kit::List list;
        int pending;
        int want;
    };
    std::vector<Case> cases;
    auto add = [&](const char *what, int pending, int want, auto build) {
        Case c{what, {}, pending, want};
        build(c.list);
        cases.push_back(std::move(c));
    };
    add("data next", 0, 0, [&](kit::List &l) { l.item(x).end(); });
    add("only empty arrays then end", 0, 1, [&](kit::List &l) { l.array(a, 0).array(a, 0).end(); });
    add("empty array then data", 0, 0, [&](kit::List &l) { l.array(a, 0).item(x).end(); });
    add("end of group first", 0, 2, [&](kit::List &l) { l.array(a, 0).end_group(); });
    add("end with items pending", 2, 0, [&](kit::List &l) { l.end(); });
    add("end with one pending", 1, 1, [&](kit::List &l) { l.end(); });
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(for__desc_test_item(c.list.dsc(), c.list.val(), c.pending), c.want);
        const For_Dsc_Lst *d = c.list.dsc();
        const For_Value_List *v = c.list.val();
        For_Item item;
        For_Shape shape;
        EXPECT_EQ(for__desc_zero_length_item(&d, &v, &item, &shape, c.pending), c.want);
        // The consuming form leaves the cursor on the item that counts.
        For_Item next;
        ASSERT_EQ(for__desc_ret_item(&d, &v, &next, &shape), 0);
        EXPECT_EQ(next.form == FOR_FORM_ARRAY && next.length == 0, false);
    }
}

TEST(DescItem, KeywordItemsCarryTheirCode) {
    kit::Stmt st(6);
    std::string msg(20, ' ');
    int64_t p = 5;
    st.control.iomsg(msg).pos(p).round("up");
    const For_Dsc_Lst *d = st.control.dsc();
    const For_Value_List *v = st.control.val();
    For_Item item;
    For_Shape shape;
    int code = -1;
    int want[] = {FOR_KEY_IOMSG, FOR_KEY_POS, FOR_KEY_ROUND, 0};
    for (int w : want) {
        ASSERT_EQ(for__key_desc_ret_item(&d, &v, &item, &shape, &code), 0);
        EXPECT_EQ(code, w);
    }
    EXPECT_EQ(item.type, FOR_TYPE_END_STMT);
}

TEST(DescItem, AdvanceSpellings) {
    struct Case {
        const char *text;
        int status, advance;
    } cases[] = {{"NO", 0, 0},   {"no  ", 0, 0},  {"Yes", 0, 1}, {"YES       ", 0, 1},
                 {" NO", 48, 1}, {"NOPE", 48, 1}, {"", 48, 1},   {"n o", 48, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        kit::Stmt st(6);
        int32_t size = 0;
        st.control.advance(c.text).size(size);
        For_IO_Flags f = st.flag_word();
        const For_Dsc_Lst *d = st.control.dsc();
        const For_Value_List *v = st.control.val();
        For_Item item;
        For_Shape shape;
        ASSERT_EQ(for__desc_ret_item(&d, &v, &item, &shape), 0);  // the keyword end marker
        For_Advance_Args a{};
        EXPECT_EQ(for__read_args(&d, &v, f, &a), c.status);
        EXPECT_EQ(a.advance, c.advance);
        if (c.status == 0) {
            EXPECT_EQ(a.size_addr, &size);
            EXPECT_EQ(a.size_len, 4);
        }
    }
}

}  // namespace
