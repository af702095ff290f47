// Builds a list, walks it forward with ListNext and backward with ListPrev, and destroys it, for
// 10,000 and 100,000 items. The last line is the growth of the walk time from 10k to 100k items:
// about 10 when a walk step costs the same whatever the list's length.
#include "support/locked_list.h"

#include "bench_clock.h"

#include <stdio.h>
#include <windows.h>

namespace {

struct Figures {
    double build, walk, destroy;
    UINT64 comparisonsPerStep100; // comparisons per walk step, times 100
};

Figures Measure(UINT32 items, int walkRounds)
{
    Figures f = {0, 1e9, 0, 0};
    double t0 = BenchNow();
    ListHandle list = ListCreate();
    for (UINT32 i = 1; i <= items; i++) {
        ListSetByKey(list, i, i, 0);
    }
    f.build = BenchNow() - t0;
    for (int round = 0; round < walkRounds; round++) {
        double t1 = BenchNow();
        UINT64 c0 = ListLookupComparisons();
        UINT32 steps = 0;
        UINT_PTR v = 0;
        for (int ok = ListFirst(list, &v, 0); ok; ok = ListNext(list, v, &v, 0, 0)) {
            steps++;
        }
        for (int ok = ListLast(list, &v, 0); ok; ok = ListPrev(list, v, &v, 0, 0)) {
            steps++;
        }
        UINT64 c1 = ListLookupComparisons();
        double walk = BenchNow() - t1;
        if (steps != 2 * items) {
            fprintf(stderr, "walk saw %u steps, expected %u\n", steps, 2 * items);
            ExitProcess(1);
        }
        if (walk < f.walk) {
            f.walk = walk;
        }
        f.comparisonsPerStep100 = (c1 - c0) * 100 / steps;
    }
    // The destruction idiom of the program: take the first and remove it until none is left.
    double t2 = BenchNow();
    UINT_PTR v = 0;
    while (ListFirst(list, &v, 0)) {
        ListRemoveByKey(list, v);
    }
    ListDestroy(list);
    f.destroy = BenchNow() - t2;
    return f;
}

} // namespace

int main()
{
    // Note: building a keyed list looks every new key up first, so the build is quadratic by nature;
    // the walk and the destruction must stay linear.
    Figures small = Measure(10000, 20);
    Figures large = Measure(100000, 5);
    printf("lists-10k:  build %.4f s  walk %.6f s  destroy %.6f s  comparisons/step %.2f\n", small.build, small.walk,
           small.destroy, small.comparisonsPerStep100 / 100.0);
    printf("lists-100k: build %.4f s  walk %.6f s  destroy %.6f s  comparisons/step %.2f\n", large.build, large.walk,
           large.destroy, large.comparisonsPerStep100 / 100.0);
    printf("lists-destroy-growth: %.2f\n", large.destroy / small.destroy);
    printf("lists-walk-growth: %.2f\n", large.walk / small.walk);
    return 0;
}
