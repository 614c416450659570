// Fixed-width readers and writers over buffered streams. DSDIFF and WSD
// headers are big-endian, the RF64 header little-endian. Each primitive
// moves one value, prints a short fixed message on failure and returns
// all bits set (-1) on success, 0 on failure. Readers store only on success.
#pragma once

#include <cstdint>
#include <cstdio>

int read16bitBEint(FILE* f, uint16_t* value);
int read32bitBEint(FILE* f, uint32_t* value);
int read64bitBElong(FILE* f, uint64_t* value);
int read32bitLEint(FILE* f, int32_t* value);
int read64bitLElong(FILE* f, uint64_t* value);
int readfloat(FILE* f, void* value4);
int readdouble(FILE* f, void* value8);

int write16bitLEint(FILE* f, int value);
int write24bitLEint(FILE* f, int value);
int write32bitLEint(FILE* f, uint32_t value);
int write64bitLEint(FILE* f, uint64_t value);
int write32bitBEint(FILE* f, uint32_t value);
int write64bitBEint(FILE* f, uint64_t value);
int writefloat(FILE* f, float value);
// Writes the low `width` bytes of `value`, most significant first when
// `big_endian`; stops at the first failing byte.
int write_int(FILE* f, uint64_t value, int width, bool big_endian);
int writedouble(FILE* f, double value);
