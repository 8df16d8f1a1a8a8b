#include "nrutil.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>

namespace {

// Blocks from this size on are mapped directly, so that releasing one gives
// its memory back to the system at once, whatever the allocator's
// thresholds; the kernel hands a mapping out zero-filled, page by page as
// it is first touched.
constexpr size_t kMapFrom = size_t(1) << 20;

void *obtain_block(size_t bytes) {
    if (bytes < kMapFrom) return std::calloc(1, bytes);
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void give_back_block(void *block, size_t bytes) {
    if (bytes < kMapFrom)
        std::free(block);
    else
        munmap(block, bytes);
}

// Stored just in front of the row pointers of every matrix: the block that
// holds all of its rows, so that release can give it back.
struct BlockHeader {
    void *block;
    size_t bytes;  // its size; also keeps the row pointers 16-byte aligned
};

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
    header->bytes = total;
    header->block = obtain_block(total);
    if (header->block == nullptr) {
        std::free(head);
        return nullptr;
    }
    T **rows = reinterpret_cast<T **>(header + 1);
    T *block = static_cast<T *>(header->block);
    for (int i = 0; i < NbLig; i++) rows[i] = block + size_t(i) * size_t(NbCol);
    return rows;
}

template <class T>
void frmatrice(T **Mat, int /*NbLig*/) {
    if (Mat == nullptr) return;
    BlockHeader *header = reinterpret_cast<BlockHeader *>(Mat) - 1;
    give_back_block(header->block, header->bytes);
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
