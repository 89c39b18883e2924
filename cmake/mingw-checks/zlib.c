/* zlib from the cache: a round trip through compress and uncompress. */
#include <stdio.h>
#include <string.h>
#include <zlib.h>

int main(void) {
    const char text[] = "Quorvane Quorvane Quorvane Quorvane Quorvane";
    Bytef packed[128];
    Bytef unpacked[128];
    uLongf packedLen = sizeof packed;
    uLongf unpackedLen = sizeof unpacked;
    if (compress(packed, &packedLen, (const Bytef*)text, sizeof text) != Z_OK)
        return 1;
    if (uncompress(unpacked, &unpackedLen, packed, packedLen) != Z_OK)
        return 2;
    if (unpackedLen != sizeof text || memcmp(text, unpacked, sizeof text) != 0)
        return 3;
    printf("zlib %s: %lu bytes packed to %lu\n", zlibVersion(), (unsigned long)sizeof text,
           (unsigned long)packedLen);
    return 0;
}
