#include "vorbis_library.h"

#include "audio/acs_exception.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <atomic>
#include <dlfcn.h>
#include <mutex>

namespace {

struct TLibraryFile {
    const char* SoName;
    const char* Name; // as the messages call it
};

constexpr std::array<TLibraryFile, 4> LibraryFiles{{
    {"libogg.so.0", "libogg"},
    {"libvorbis.so.0", "libvorbis"},
    {"libvorbisfile.so.3", "libvorbisfile"},
    {"libvorbisenc.so.2", "libvorbisenc"},
}};

std::size_t IndexOf(TVorbisLibrary library)
{
    return static_cast<std::size_t>(library);
}

// Loading and freeing are serialised; the flags are read from any thread.
std::mutex& LoadMutex()
{
    static std::mutex mutex;
    return mutex;
}

TVorbisApi Api;
std::array<void*, 4> Handles{};
std::array<std::atomic<bool>, 4> Loaded{};

QList<QByteArray> MissingOnPurpose()
{
    QList<QByteArray> names;
    for (const QByteArray& name : qgetenv("VELBROOK_MISSING_LIBRARIES").split(',')) {
        if (!name.trimmed().isEmpty())
            names.append(name.trimmed());
    }
    return names;
}

// Looks up one function; false when it is missing (or made to be missing).
template <typename TPointer>
bool Bind(void* handle, const char* name, TPointer& pointer, const QList<QByteArray>& missing)
{
    pointer = nullptr;
    if (missing.contains(QByteArray(name)))
        return false;
    void* symbol = dlsym(handle, name);
    if (!symbol)
        return false;
    pointer = reinterpret_cast<TPointer>(symbol);
    return true;
}

void* Open(TVorbisLibrary library, const QList<QByteArray>& missing)
{
    const TLibraryFile& file = LibraryFiles[IndexOf(library)];
    if (missing.contains(QByteArray(file.SoName)))
        return nullptr;
    return dlopen(file.SoName, RTLD_NOW | RTLD_LOCAL);
}

void FreeLocked()
{
    for (std::atomic<bool>& flag : Loaded)
        flag = false;
    Api = TVorbisApi();
    for (void*& handle : Handles) {
        if (handle)
            dlclose(handle);
        handle = nullptr;
    }
}

} // namespace

const TVorbisApi& VorbisApi()
{
    return Api;
}

void LoadVorbisLibraries()
{
    std::lock_guard lock(LoadMutex());
    FreeLocked();
    const QList<QByteArray> missing = MissingOnPurpose();
    auto load = [&](TVorbisLibrary library, auto bindAll) {
        void* handle = Open(library, missing);
        if (!handle)
            return;
        Handles[IndexOf(library)] = handle;
        Loaded[IndexOf(library)] = bindAll(handle);
    };
#define VELBROOK_VORBIS_BIND(name) found = Bind(handle, #name, Api.name, missing) && found;
    load(TVorbisLibrary::Ogg, [&](void* handle) {
        bool found = true;
        VELBROOK_LIBOGG_FUNCTIONS(VELBROOK_VORBIS_BIND)
        return found;
    });
    load(TVorbisLibrary::Vorbis, [&](void* handle) {
        bool found = true;
        VELBROOK_LIBVORBIS_FUNCTIONS(VELBROOK_VORBIS_BIND)
        return found;
    });
    load(TVorbisLibrary::VorbisFile, [&](void* handle) {
        bool found = true;
        VELBROOK_LIBVORBISFILE_FUNCTIONS(VELBROOK_VORBIS_BIND)
        return found;
    });
    load(TVorbisLibrary::VorbisEnc, [&](void* handle) {
        bool found = true;
        VELBROOK_LIBVORBISENC_FUNCTIONS(VELBROOK_VORBIS_BIND)
        return found;
    });
#undef VELBROOK_VORBIS_BIND
}

void FreeVorbisLibraries()
{
    std::lock_guard lock(LoadMutex());
    FreeLocked();
}

bool VorbisLibraryLoaded(TVorbisLibrary library)
{
    return Loaded[IndexOf(library)].load();
}

QString VorbisLibraryMissingText(TVorbisLibrary library)
{
    return QStringLiteral("%1 library could not be loaded.")
        .arg(QString::fromLatin1(LibraryFiles[IndexOf(library)].Name));
}

void CheckVorbisLibraries()
{
    for (TVorbisLibrary library : {TVorbisLibrary::Ogg, TVorbisLibrary::Vorbis, TVorbisLibrary::VorbisFile,
                                   TVorbisLibrary::VorbisEnc}) {
        if (!VorbisLibraryLoaded(library))
            throw EACSException(VorbisLibraryMissingText(library));
    }
}
