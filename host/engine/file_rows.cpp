// Plain-data file rows in ascending path order.
//
// Rows are kept in the order they come and sorted only when read: a batch adds
// all its paths, then the engine reads them and takes them from the front, so
// adding, sorting once and moving a head index keeps a batch of thousands of
// files from costing time that grows with the square of its length.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include "engine.h"

namespace {

struct PathLess {
    const char (*paths)[EngineTagPathChars];
    bool operator()(int a, int b) const { return lstrcmpiA(paths[a], paths[b]) < 0; }
};

}  // namespace

SortedFileRows::~SortedFileRows()
{
    free(rows);
    free(order);
    if (lock) {
        DeleteCriticalSection(lock);
        delete lock;
    }
}

bool SortedFileRows::Add(const char* path)
{
    if (!path || !path[0] || strlen(path) >= EngineTagPathChars)
        return false;
    if (!lock) {
        lock = new CRITICAL_SECTION;
        InitializeCriticalSection(lock);
    }
    EnterCriticalSection(lock);
    bool ok = true;
    if (count == capacity) {
        int grown = capacity ? capacity * 2 : 16;
        Row* biggerRows = (Row*)realloc(rows, (size_t)grown * sizeof(Row));
        if (biggerRows)
            rows = biggerRows;
        int* biggerOrder = biggerRows ? (int*)realloc(order, (size_t)grown * sizeof(int)) : nullptr;
        if (biggerOrder)
            order = biggerOrder;
        if (biggerRows && biggerOrder)
            capacity = grown;
        else
            ok = false;
    }
    if (ok) {
        if (count > sorted && lstrcmpiA(rows[count - 1].path, path) > 0)
            addedInOrder = false;
        lstrcpynA(rows[count].path, path, EngineTagPathChars);
        order[count] = count;
        count++;
    }
    LeaveCriticalSection(lock);
    return ok;
}

// Sorts the rows added since the last read in among the others. Both sorts
// are stable and a row comes after the equal rows added before it, as if
// each had been inserted in its turn.
void SortedFileRows::Settle()
{
    if (sorted == count)
        return;
    PathLess less = {(const char(*)[EngineTagPathChars])rows};
    if (!addedInOrder)
        std::stable_sort(order + sorted, order + count, less);
    if (head < sorted && less(order[sorted], order[sorted - 1]))
        std::inplace_merge(order + head, order + sorted, order + count, less);
    sorted = count;
    addedInOrder = true;
}

int SortedFileRows::Count()
{
    if (!lock)
        return 0;
    EnterCriticalSection(lock);
    int n = count - head;
    LeaveCriticalSection(lock);
    return n;
}

bool SortedFileRows::PathAt(int row, char* buf, int size)
{
    if (!lock || row < 0 || size <= 0)
        return false;
    EnterCriticalSection(lock);
    Settle();
    bool ok = row < count - head && (int)strlen(rows[order[head + row]].path) < size;
    if (ok)
        lstrcpynA(buf, rows[order[head + row]].path, size);
    LeaveCriticalSection(lock);
    return ok;
}

bool SortedFileRows::TakeFirst(char* buf, int size)
{
    if (!lock)
        return false;
    EnterCriticalSection(lock);
    Settle();
    bool ok = false;
    while (head < count && !ok) {
        const char* path = rows[order[head]].path;
        ok = (int)strlen(path) < size;
        if (ok)
            lstrcpynA(buf, path, size);
        head++;
    }
    // Once every row is taken their room serves the next ones.
    if (head == count)
        head = sorted = count = 0;
    LeaveCriticalSection(lock);
    return ok;
}

ListFileResult AddListFile(SortedFileRows* rows, const char* listFile, int* added, char* refused, int refusedSize)
{
    FILE* f = fopen(listFile, "rb");
    if (!f)
        return ListFileResult::Unreadable;
    unsigned char mark[3] = {0, 0, 0};
    size_t got = fread(mark, 1, sizeof(mark), f);
    if (got >= 2 && ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF))) {
        fclose(f);
        return ListFileResult::Utf16;
    }
    if (!(got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF))
        fseek(f, 0, SEEK_SET);
    char line[EnginePathChars + 2];
    ListFileResult result = ListFileResult::Added;
    while (result == ListFileResult::Added && fgets(line, sizeof(line), f)) {
        size_t n = strcspn(line, "\r\n");
        line[n] = 0;
        if (n == 0)
            continue;
        if (!rows->Add(line)) {
            if (refused && refusedSize > 0)
                lstrcpynA(refused, line, refusedSize);
            result = ListFileResult::PathRefused;
        } else if (added)
            (*added)++;
    }
    fclose(f);
    return result;
}
