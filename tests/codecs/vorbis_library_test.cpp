#include "audio/acs_exception.h"
#include "codecs/vorbis_in.h"
#include "codecs/vorbis_library.h"
#include "codecs/vorbis_out.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Loads the libraries again as if the named sonames or functions were missing;
// returns the refusal of both classes, which must agree (empty: created).
QString RefusalWithout(const char* missing)
{
    setenv("VELBROOK_MISSING_LIBRARIES", missing, 1);
    LoadVorbisLibraries();
    unsetenv("VELBROOK_MISSING_LIBRARIES");
    QString outText;
    QString inText;
    try {
        TVorbisOut out;
    } catch (const EACSException& e) {
        outText = e.Message();
    }
    try {
        TVorbisIn in;
    } catch (const EACSException& e) {
        inText = e.Message();
    }
    EXPECT_EQ(outText, inText);
    return outText;
}

} // namespace

TEST(VorbisLibraries, AMissingLibraryOrFunctionIsRefusedWithTheLibrarysName)
{
    const struct {
        const char* Missing;
        const char* Text;
    } cases[] = {
        {"", ""},
        {"libogg.so.0", "libogg library could not be loaded."},
        {"libvorbis.so.0", "libvorbis library could not be loaded."},
        {"libvorbisfile.so.3", "libvorbisfile library could not be loaded."},
        {"libvorbisenc.so.2", "libvorbisenc library could not be loaded."},
        // The first in checking order is named; libvorbisfile comes before libvorbisenc.
        {"libvorbisenc.so.2,libogg.so.0", "libogg library could not be loaded."},
        {"libvorbisenc.so.2,libvorbisfile.so.3", "libvorbisfile library could not be loaded."},
        // One function missing is the whole library missing.
        {"ov_pcm_seek", "libvorbisfile library could not be loaded."},
        {"vorbis_encode_init_vbr", "libvorbisenc library could not be loaded."},
        {"ogg_page_eos", "libogg library could not be loaded."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Missing);
        EXPECT_EQ(RefusalWithout(c.Missing), QString::fromLatin1(c.Text));
    }
    EXPECT_TRUE(VorbisLibraryLoaded(TVorbisLibrary::VorbisFile));
    FreeVorbisLibraries();
    EXPECT_FALSE(VorbisLibraryLoaded(TVorbisLibrary::Ogg));
    EXPECT_THROW(TVorbisOut(), EACSException);
    LoadVorbisLibraries();
    EXPECT_TRUE(VorbisLibraryLoaded(TVorbisLibrary::VorbisEnc));
}
