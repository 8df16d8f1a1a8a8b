#include "nrutil.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Blocks of at least this size are mapped directly and aligned on a huge
// page; smaller ones come from calloc.
constexpr size_t kMapThreshold = size_t(4) << 20;
constexpr size_t kHugePage = size_t(2) << 20;

// Stored just in front of the row pointers of every matrix, so that release
// can find the block that holds the rows.
struct BlockHeader {
    void *base;    // what was obtained (mapping start, or calloc result)
    size_t bytes;  // length of the mapping; 0 when obtained from calloc
    size_t pad[2]; // keeps the row pointers 32-byte aligned
};

// Obtains a zero-filled block; *mapped_len receives the mapping's length, or
// 0 for a calloc block. *data receives the usable start.
bool obtain_block(size_t bytes, void **base, size_t *mapped_len, void **data) {
    if (bytes < kMapThreshold) {
        void *p = std::calloc(1, bytes);
        if (p == nullptr) return false;
        *base = p;
        *mapped_len = 0;
        *data = p;
        return true;
    }
    size_t len = 0;
    if (__builtin_add_overflow(bytes, kHugePage, &len)) return false;
    void *p = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    uintptr_t start = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
    madvise(reinterpret_cast<void *>(start), bytes, MADV_HUGEPAGE);
    *base = p;
    *mapped_len = len;
    *data = reinterpret_cast<void *>(start);
    return true;
}

void give_back_block(void *base, size_t mapped_len) {
    if (mapped_len != 0)
        munmap(base, mapped_len);
    else
        std::free(base);
}

template <class T>
T **matrice(int NbCol, int NbLig) {
    if (NbCol <= 0 || NbLig <= 0) return nullptr;
    size_t row_bytes = 0, total = 0, ptr_bytes = 0;
    if (__builtin_mul_overflow(size_t(NbCol), sizeof(T), &row_bytes)) return nullptr;
    if (__builtin_mul_overflow(row_bytes, size_t(NbLig), &total)) return nullptr;
    if (__builtin_mul_overflow(size_t(NbLig), sizeof(T *), &ptr_bytes)) return nullptr;

    void *head = std::calloc(1, sizeof(BlockHeader) + ptr_bytes);
    if (head == nullptr) return nullptr;
    auto *header = static_cast<BlockHeader *>(head);
    void *data = nullptr;
    if (!obtain_block(total, &header->base, &header->bytes, &data)) {
        std::free(head);
        return nullptr;
    }
    T **rows = reinterpret_cast<T **>(header + 1);
    T *block = static_cast<T *>(data);
    for (int i = 0; i < NbLig; i++) rows[i] = block + size_t(i) * size_t(NbCol);
    return rows;
}

template <class T>
void frmatrice(T **Mat, int /*NbLig*/) {
    if (Mat == nullptr) return;
    BlockHeader *header = reinterpret_cast<BlockHeader *>(Mat) - 1;
    give_back_block(header->base, header->bytes);
    std::free(header);
}

template <class T>
T *vecteur(int NbCol) {
    if (NbCol <= 0) return nullptr;
    return static_cast<T *>(std::calloc(size_t(NbCol), sizeof(T)));
}

template <class T>
void frvecteur(T *Mat) {
    std::free(Mat);
}

}  // namespace

extern "C" {

unsigned char **ucmatrice(int NbCol, int NbLig) { return matrice<unsigned char>(NbCol, NbLig); }
void frucmatrice(unsigned char **Mat, int NbLig) { frmatrice(Mat, NbLig); }
unsigned char *ucvecteur(int NbCol) { return vecteur<unsigned char>(NbCol); }
void frucvecteur(unsigned char *Mat) { frvecteur(Mat); }

unsigned short **usmatrice(int NbCol, int NbLig) { return matrice<unsigned short>(NbCol, NbLig); }
void frusmatrice(unsigned short **Mat, int NbLig) { frmatrice(Mat, NbLig); }
unsigned short *usvecteur(int NbCol) { return vecteur<unsigned short>(NbCol); }
void frusvecteur(unsigned short *Mat) { frvecteur(Mat); }

short **smatrice(int NbCol, int NbLig) { return matrice<short>(NbCol, NbLig); }
void frsmatrice(short **Mat, int NbLig) { frmatrice(Mat, NbLig); }
short *svecteur(int NbCol) { return vecteur<short>(NbCol); }
void frsvecteur(short *Mat) { frvecteur(Mat); }

int **imatrice(int NbCol, int NbLig) { return matrice<int>(NbCol, NbLig); }
void frimatrice(int **Mat, int NbLig) { frmatrice(Mat, NbLig); }
int *ivecteur(int NbCol) { return vecteur<int>(NbCol); }
void frivecteur(int *Mat) { frvecteur(Mat); }

float **fmatrice(int NbCol, int NbLig) { return matrice<float>(NbCol, NbLig); }
void frfmatrice(float **Mat, int NbLig) { frmatrice(Mat, NbLig); }
float *fvecteur(int NbCol) { return vecteur<float>(NbCol); }
void frfvecteur(float *Mat) { frvecteur(Mat); }

double **dmatrice(int NbCol, int NbLig) { return matrice<double>(NbCol, NbLig); }
void frdmatrice(double **Mat, int NbLig) { frmatrice(Mat, NbLig); }
double *dvecteur(int NbCol) { return vecteur<double>(NbCol); }
void frdvecteur(double *Mat) { frvecteur(Mat); }

long double **ldmatrice(int NbCol, int NbLig) { return matrice<long double>(NbCol, NbLig); }
void frldmatrice(long double **Mat, int NbLig) { frmatrice(Mat, NbLig); }

}  // extern "C"
