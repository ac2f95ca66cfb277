// Finding, loading and releasing the encoder library.
#include "encoder/encoder_library.h"

#include <cstring>
#include <type_traits>

#include "platform/registry.h"
#include "platform/text_encoding.h"

EncoderLibrary encoderLibrary{};

namespace {

template <auto Reference>
void storeEntryPoint(void* address) {
    using Function = std::remove_reference_t<decltype(encoderLibrary.*Reference)>;
    encoderLibrary.*Reference = reinterpret_cast<Function>(address);
}

// The one text area both registry values are read into.
char registryText[VersionTextCapacity];

// Reads a value into registryText; the byte count, or -1 when the read fails.
int32_t readRegistryText(RegistryKey key, const char* valueName) {
    std::memset(registryText, 0, sizeof registryText);
    return registryReadValue(key, valueName, registryText, sizeof registryText);
}

LibraryHandle loadFromInstallPath() {
    RegistryKey key = registryOpenKey(RegistryRoot::CurrentUser, InstallPathKey);
    if (key == nullptr) return nullptr;
    LibraryHandle module = nullptr;
    int32_t byteCount = readRegistryText(key, InstallPathValue);
    // A value that fills the whole area without a terminator is no text; a
    // relative path would load whatever lies under the current folder.
    if (byteCount >= 0 && byteCount < VersionTextCapacity && libraryPathIsAbsolute(registryText)) {
        module = libraryLoad(registryText);
    }
    registryCloseKey(key);
    return module;
}

LibraryHandle loadFromUninstallString() {
    RegistryKey key = registryOpenKey(RegistryRoot::LocalMachine, UninstallKey);
    if (key == nullptr) return nullptr;
    LibraryHandle module = nullptr;
    int32_t byteCount = readRegistryText(key, UninstallValue);
    if (byteCount >= 0) {
        const char* path = uninstallStringLibraryPath(registryText, byteCount);
        if (path != nullptr && libraryPathIsAbsolute(path)) module = libraryLoad(path);
    }
    registryCloseKey(key);
    return module;
}

int32_t bindLibrary(LibraryHandle module) {
    encoderLibrary.module = module;
    if (module == nullptr) return 0;
    for (const EncoderEntryPoint& row : EncoderEntryPoints) {
        void* address = libraryResolve(module, row.name);
        if (address == nullptr) {
            unloadEncoderLibrary();
            return 0;
        }
        row.store(address);
    }
    char systemText[VersionTextCapacity] = {};
    encoderLibrary.getVersion(&encoderLibrary.versionNumber, systemText);
    // A library that overruns the text's terminator is cut at the area's end.
    systemText[VersionTextCapacity - 1] = '\0';
    // The library writes in the system's encoding (the ANSI code page on
    // Windows); the dialog shows UTF-8.
    systemTextToUtf8(systemText, encoderLibrary.versionText, VersionTextCapacity);
    return encoderLibrary.versionNumber;
}

}  // namespace

const EncoderEntryPoint EncoderEntryPoints[EncoderEntryPointCount] = {
    {"MPGE_initializeWork", storeEntryPoint<&EncoderLibrary::initializeWork>},
    {"MPGE_setConfigure", storeEntryPoint<&EncoderLibrary::setConfigure>},
    {"MPGE_getConfigure", storeEntryPoint<&EncoderLibrary::getConfigure>},
    {"MPGE_detectConfigure", storeEntryPoint<&EncoderLibrary::detectConfigure>},
    {"MPGE_processFrame", storeEntryPoint<&EncoderLibrary::processFrame>},
    {"MPGE_closeCoder", storeEntryPoint<&EncoderLibrary::closeCoder>},
    {"MPGE_endCoder", storeEntryPoint<&EncoderLibrary::endCoder>},
    {"MPGE_getUnitStates", storeEntryPoint<&EncoderLibrary::getUnitStates>},
    {"MPGE_processTrack", storeEntryPoint<&EncoderLibrary::processTrack>},
    {"MPGE_getVersion", storeEntryPoint<&EncoderLibrary::getVersion>},
};

const char* uninstallStringLibraryPath(char* text, int32_t byteCount) {
    if (text == nullptr || byteCount < 0 || byteCount > VersionTextCapacity) return nullptr;
    int32_t length = static_cast<int32_t>(strnlen(text, static_cast<size_t>(byteCount)));
    int32_t separator = -1;
    for (int32_t i = 0; i < length; ++i) {
        if (text[i] == UninstallPathSeparator) separator = i;
    }
    if (separator < 0) return nullptr;
    size_t nameBytes = std::strlen(EncoderLibraryFileName) + 1;
    if (static_cast<size_t>(separator) + 1 + nameBytes > static_cast<size_t>(VersionTextCapacity)) {
        return nullptr;
    }
    std::memcpy(text + separator + 1, EncoderLibraryFileName, nameBytes);
    // The command is normally quoted; a value without its opening quotation
    // mark keeps its first byte, which belongs to the path.
    return text[0] == UninstallQuote ? text + 1 : text;
}

LibraryHandle locateEncoderLibrary() {
    LibraryHandle module = libraryLoad(EncoderLibraryFileName);
    if (module != nullptr) return module;
    module = loadFromInstallPath();
    if (module != nullptr) return module;
    return loadFromUninstallString();
}

int32_t loadEncoderLibrary() {
    unloadEncoderLibrary();
    return bindLibrary(locateEncoderLibrary());
}

int32_t loadEncoderLibraryFrom(const char* path) {
    unloadEncoderLibrary();
    return bindLibrary(libraryLoad(path));
}

void unloadEncoderLibrary() {
    if (encoderLibrary.module != nullptr) libraryRelease(encoderLibrary.module);
    encoderLibrary = EncoderLibrary{};
}

const char* encoderVersionText() {
    return encoderLibrary.versionText;
}
