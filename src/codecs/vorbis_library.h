#pragma once

// Types only: the libraries themselves are bound at run time (below), never
// linked, so that a missing library is a refusal with a message and not a
// program that does not start.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <QString>

// The four libraries, in the order their availability is checked.
enum class TVorbisLibrary { Ogg, Vorbis, VorbisFile, VorbisEnc };

// The functions we call, per library. A library counts as loaded only when
// every one of its functions was found.
#define VELBROOK_LIBOGG_FUNCTIONS(X)                                                                         \
    X(ogg_stream_init)                                                                                       \
    X(ogg_stream_packetin)                                                                                   \
    X(ogg_stream_flush)                                                                                      \
    X(ogg_stream_pageout)                                                                                    \
    X(ogg_page_eos)                                                                                          \
    X(ogg_stream_clear)                                                                                      \
    X(ogg_sync_init)                                                                                         \
    X(ogg_sync_buffer)                                                                                       \
    X(ogg_sync_wrote)                                                                                        \
    X(ogg_sync_pageseek)                                                                                     \
    X(ogg_sync_clear)                                                                                        \
    X(ogg_page_bos)                                                                                          \
    X(ogg_page_serialno)

#define VELBROOK_LIBVORBIS_FUNCTIONS(X)                                                                      \
    X(vorbis_info_init)                                                                                      \
    X(vorbis_comment_init)                                                                                   \
    X(vorbis_comment_add_tag)                                                                                \
    X(vorbis_analysis_init)                                                                                  \
    X(vorbis_block_init)                                                                                     \
    X(vorbis_analysis_headerout)                                                                             \
    X(vorbis_analysis_buffer)                                                                                \
    X(vorbis_analysis_wrote)                                                                                 \
    X(vorbis_analysis_blockout)                                                                              \
    X(vorbis_analysis)                                                                                       \
    X(vorbis_bitrate_addblock)                                                                               \
    X(vorbis_bitrate_flushpacket)                                                                            \
    X(vorbis_block_clear)                                                                                    \
    X(vorbis_dsp_clear)                                                                                      \
    X(vorbis_comment_clear)                                                                                  \
    X(vorbis_info_clear)

#define VELBROOK_LIBVORBISENC_FUNCTIONS(X)                                                                   \
    X(vorbis_encode_init)                                                                                    \
    X(vorbis_encode_init_vbr)

#define VELBROOK_LIBVORBISFILE_FUNCTIONS(X)                                                                  \
    X(ov_open_callbacks)                                                                                     \
    X(ov_info)                                                                                               \
    X(ov_streams)                                                                                            \
    X(ov_pcm_total)                                                                                          \
    X(ov_read)                                                                                               \
    X(ov_seekable)                                                                                           \
    X(ov_pcm_seek)                                                                                           \
    X(ov_clear)

// The bound functions, named like the libraries' own. Valid while the library
// that holds a function counts as loaded.
struct TVorbisApi {
#define VELBROOK_VORBIS_POINTER(name) decltype(&::name) name = nullptr;
    VELBROOK_LIBOGG_FUNCTIONS(VELBROOK_VORBIS_POINTER)
    VELBROOK_LIBVORBIS_FUNCTIONS(VELBROOK_VORBIS_POINTER)
    VELBROOK_LIBVORBISENC_FUNCTIONS(VELBROOK_VORBIS_POINTER)
    VELBROOK_LIBVORBISFILE_FUNCTIONS(VELBROOK_VORBIS_POINTER)
#undef VELBROOK_VORBIS_POINTER
};

const TVorbisApi& VorbisApi();

// Opens the four libraries by soname (libogg.so.0, libvorbis.so.0,
// libvorbisfile.so.3, libvorbisenc.so.2) and looks up their functions. Called
// once at program start; calling it again first frees what is loaded.
//
// For tests and demonstrations, VELBROOK_MISSING_LIBRARIES (comma-separated
// sonames or function names) makes those libraries fail to open, or those
// functions count as not found.
void LoadVorbisLibraries();
// Releases the libraries; every flag is false afterwards.
void FreeVorbisLibraries();

// Whether the library was opened and every function of it was found. Any thread.
bool VorbisLibraryLoaded(TVorbisLibrary library);
// "libvorbisfile library could not be loaded." and its siblings.
QString VorbisLibraryMissingText(TVorbisLibrary library);
// Raises EACSException with the text of the first library (in the order of
// TVorbisLibrary) that is not loaded.
void CheckVorbisLibraries();

// Loads the libraries for the lifetime of the object: one in main, one in a
// test program's environment.
class TVorbisLibraries final {
public:
    TVorbisLibraries() { LoadVorbisLibraries(); }
    ~TVorbisLibraries() { FreeVorbisLibraries(); }
    TVorbisLibraries(const TVorbisLibraries&) = delete;
    TVorbisLibraries& operator=(const TVorbisLibraries&) = delete;
};
