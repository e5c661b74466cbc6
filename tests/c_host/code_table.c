/* The code tables of the public header, compiled as C: each row's constant is an
 * integer constant expression (a case label), values are unique, lie in their
 * series and skip the numbers ending in A to F, every error is final, and every
 * row has a meaning. Exits nonzero naming the first bad row. */
#include <stdio.h>
#include <stridelog/stridelog.h>

struct Row {
    const char* name;
    unsigned value;
    int final;
    const char* meaning;
    unsigned series; /* 0x1000 for errors, 0x2000 for results */
};

#define ERROR_ROW(name, value, final, meaning) {#name, name, final, meaning, 0x1000},
#define RESULT_ROW(name, value, final, meaning) {#name, name, final, meaning, 0x2000},
static const struct Row rows[] = {STRIDELOG_ERROR_CODES(ERROR_ROW)
                                      STRIDELOG_RESULT_CODES(RESULT_ROW)};

/* Compiles only while the constants are integer constant expressions. */
static int is_error_code(unsigned code) {
    switch (code) {
#define ERROR_CASE(name, value, final, meaning) case name:
        STRIDELOG_ERROR_CODES(ERROR_CASE)
        return 1;
        default:
            return 0;
    }
}

int main(void) {
    const size_t n = sizeof rows / sizeof rows[0];
    size_t i, j;
    for (i = 0; i < n; ++i) {
        const struct Row* r = &rows[i];
        const char* fault = NULL;
        if ((r->value & 0xFF00u) != r->series)
            fault = "outside its series";
        else if ((r->value & 0xFu) > 9)
            fault = "ends in a hexadecimal letter";
        else if (r->series == 0x1000 && !r->final)
            fault = "an error that is not final";
        else if (r->final != 0 && r->final != 1)
            fault = "final flag neither 0 nor 1";
        else if (r->meaning == NULL || r->meaning[0] == '\0')
            fault = "no meaning";
        else if (is_error_code(r->value) != (r->series == 0x1000))
            fault = "in the wrong table";
        for (j = 0; j < i && fault == NULL; ++j)
            if (rows[j].value == r->value) fault = "a value given twice";
        if (fault != NULL) {
            printf("%s (0x%04X): %s\n", r->name, r->value, fault);
            return 1;
        }
    }
    printf("%u codes\n", (unsigned)n);
    return 0;
}
