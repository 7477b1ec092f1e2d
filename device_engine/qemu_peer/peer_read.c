/* Reads a whole disc through the exports of libtrelin.so and compares every
 * sector with the image file the drive was given. Runs inside the test guest:
 *   peer_read LIBRARY DRIVE_INDEX cd|dvd IMAGE
 * Result lines start with "PEER" on standard error; exit status 0 on a match. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef intptr_t (*InitializeFn)(void);
typedef void (*TerminateFn)(intptr_t);
typedef int32_t (*HandleFn)(intptr_t);
typedef int32_t (*HandleIntFn)(intptr_t, int32_t);
typedef int32_t (*ReadStartFn)(intptr_t, int32_t, int32_t);
typedef int32_t (*ReadLbaFn)(intptr_t, void*, int32_t);

static void* Symbol(void* library, const char* name) {
  void* p = dlsym(library, name);
  if (p == NULL) {
    fprintf(stderr, "PEER FAIL: no export %s\n", name);
    exit(2);
  }
  return p;
}

static uint8_t Bcd(int value) { return (uint8_t)(((value / 10) << 4) | (value % 10)); }

/* A Mode 1 sector's sync, mode byte and header address: LBA + 150 as MSF,
 * in BCD as ECMA-130 has it, or in binary as QEMU's drive writes it. */
static int IsMode1Header(const uint8_t* raw, int32_t lba) {
  static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  int32_t frames = lba + 150;
  int m = frames / 4500, s = frames / 75 % 60, f = frames % 75;
  int bcd = raw[12] == Bcd(m) && raw[13] == Bcd(s) && raw[14] == Bcd(f);
  int binary = raw[12] == m && raw[13] == s && raw[14] == f;
  return memcmp(raw, sync, sizeof sync) == 0 && (bcd || binary) && raw[15] == 1;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: peer_read LIBRARY DRIVE_INDEX cd|dvd IMAGE\n");
    return 2;
  }
  const char* kind = argv[3];
  int cd = strcmp(kind, "cd") == 0;
  FILE* image = fopen(argv[4], "rb");
  if (image == NULL) {
    fprintf(stderr, "PEER FAIL %s: cannot open %s\n", kind, argv[4]);
    return 2;
  }
  fseek(image, 0, SEEK_END);
  long image_sectors = ftell(image) / 2048;
  fseek(image, 0, SEEK_SET);

  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "PEER FAIL %s: %s\n", kind, dlerror());
    return 2;
  }
  InitializeFn initialize = (InitializeFn)Symbol(library, "Initialize");
  TerminateFn terminate = (TerminateFn)Symbol(library, "Terminate");
  HandleIntFn open_drive = (HandleIntFn)Symbol(library, "Open");
  HandleFn close_drive = (HandleFn)Symbol(library, "Close");
  HandleFn media_type = (HandleFn)Symbol(library, "GetMediaType");
  HandleFn media_family = (HandleFn)Symbol(library, "GetMediaFamilyType");
  ReadStartFn read_start = (ReadStartFn)Symbol(library, "ReadStart");
  ReadLbaFn read_lba = (ReadLbaFn)Symbol(library, "ReadLBA");
  HandleFn read_end = (HandleFn)Symbol(library, "ReadEnd");
  HandleFn first_lba = (HandleFn)Symbol(library, "GetFirstLBA");
  HandleFn last_lba = (HandleFn)Symbol(library, "GetLastLBA");

  intptr_t h = initialize();
  if (h == 0 || !open_drive(h, atoi(argv[2]))) {
    fprintf(stderr, "PEER FAIL %s: Open failed\n", kind);
    return 1;
  }
  int32_t profile = media_type(h);
  int32_t family = media_family(h);
  fprintf(stderr, "PEER %s: profile %04X family %d\n", kind, (unsigned)profile, family);
  if (family != (cd ? 1 : 2)) {
    fprintf(stderr, "PEER FAIL %s: wrong media family\n", kind);
    return 1;
  }
  /* CD: raw main channel (command 1), no pregap search; DVD: user data (command 0). */
  int32_t start = cd ? read_start(h, 1, 0x4000) : read_start(h, 0, 0);
  if (start != 0) {
    fprintf(stderr, "PEER FAIL %s: ReadStart returned %d\n", kind, start);
    return 1;
  }
  int32_t first = first_lba(h);
  int32_t last = last_lba(h);
  fprintf(stderr, "PEER %s: LBA %d to %d, image %ld sectors\n", kind, first, last, image_sectors);
  if (first != 0 || (long)last + 1 != image_sectors) {
    fprintf(stderr, "PEER FAIL %s: readable range differs from the image\n", kind);
    return 1;
  }
  static uint8_t sector[2448];
  static uint8_t expected[2048];
  long mismatches = 0;
  for (int32_t lba = first; lba <= last; ++lba) {
    if (fread(expected, 1, sizeof expected, image) != sizeof expected) {
      fprintf(stderr, "PEER FAIL %s: image read failed at %d\n", kind, lba);
      return 1;
    }
    memset(sector, 0x5A, sizeof sector);
    if (!read_lba(h, sector, lba)) {
      fprintf(stderr, "PEER FAIL %s: ReadLBA failed at %d\n", kind, lba);
      return 1;
    }
    const uint8_t* user = cd ? sector + 16 : sector;
    if ((cd && !IsMode1Header(sector, lba)) || memcmp(user, expected, sizeof expected) != 0) {
      if (mismatches++ < 5) fprintf(stderr, "PEER %s: sector %d differs\n", kind, lba);
    }
  }
  /* The drive refuses REZERO, which ending the pass sends: the pass still ends. */
  if (!read_end(h) || !close_drive(h)) {
    fprintf(stderr, "PEER FAIL %s: ReadEnd or Close failed\n", kind);
    return 1;
  }
  terminate(h);
  if (mismatches != 0) {
    fprintf(stderr, "PEER FAIL %s: %ld sectors differ\n", kind, mismatches);
    return 1;
  }
  fprintf(stderr, "PEER PASS %s: %ld sectors equal\n", kind, image_sectors);
  return 0;
}
