/* A plain C client: resizes a picture given on the command line. */
#include <kestrix.h>
#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    cKestrix* engine = cKestrix_Create();
    KestrixBool ok = cKestrix_ImageResizeMaxWidth(engine, argv[1], argv[2], 32, KESTRIX_DEFAULT_QUALITY);
    int32_t code = cKestrix_ErrorCode(engine);
    cKestrix_Release(engine);
    printf("version %s result %d code %d\n", Kestrix_Version(), (int)ok, (int)code);
    return ok == KESTRIX_TRUE ? 0 : 1;
}
