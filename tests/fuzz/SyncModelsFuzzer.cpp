// Bodies of the sync backend, read as the wire model the first byte picks: decoding fails cleanly
// or gives a value whose encoding decodes and encodes to the same bytes.
#include "FuzzInput.h"

#include "core/sync/SyncFailure.h"
#include "core/sync/SyncModels.h"

namespace {

template<class T> void roundTrip(const QByteArray &body)
{
    QByteArray encoded;
    try {
        encoded = encodeJson(decodeJson<T>(body));
    } catch (const SyncFailure &) {
        return;
    }
    fuzz::check(encodeJson(decodeJson<T>(encoded)) == encoded, "a decoded model round-trips");
}

template<class... T> void decodeAs(int which, const QByteArray &body)
{
    int index = 0;
    ((index++ == which ? roundTrip<T>(body) : void()), ...);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Reader in(data, size);
    const int which = in.byte() % 29;
    decodeAs<CreateFolderResponse, FolderDetailResponse, DeleteFolderResponse, SyncFileInfo,
             FileListResponse, FileUploadResponse, ContentUploadResponse, DownloadURLResponse,
             DeleteFileResponse, FileChange, ChangesResponse, StructureFileEntry, StructureResponse,
             StructureUploadResponse, ResolveFileResponse, FileRequestResponse, PendingFileRequest,
             PendingFileRequestListResponse, UpdateFileRequestRequest, UpdateFileRequestResponse,
             MetadataUploadRequest, MetadataUploadResponse, PairRequestResponse, PairConfirmRequest,
             PairConfirmResponse, PairStatusResponse, PairedDevice, PairedDeviceListResponse,
             DeviceStatusResponse>(which, in.rest());
    return 0;
}
