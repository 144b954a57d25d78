/* A decoder import_bench measures the filter against, built from a source
 * brought in at configure time (never kept in the tree). */
#ifndef GIFIMPORT_BENCH_PEER_DECODER_H
#define GIFIMPORT_BENCH_PEER_DECODER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The first frame as palette indices, a byte a pixel, row after row. */
struct PeerImage {
  void* block; /* from malloc: free() it */
  const uint8_t* pixels;
  uint32_t width, height;
};

struct PeerDecoder {
  const char* name; /* with its version */
  /* 0 when the GIF in memory decoded into *image. */
  int (*decode)(const uint8_t* gif, size_t size, struct PeerImage* image);
};

#ifdef __cplusplus
}
#endif

#endif
