#include "sfmpq/member_check.h"

#include <cerrno>
#include <cstdio>

#include "sfmpq/checksums.h"

namespace sfmpq {

void BeginCheck(HANDLE archive, HANDLE member, const char* name, uint64_t size,
                MemberCheck* check) {
    *check = MemberCheck();
    check->size = size;
    const StormApi* storm = Storm();
    DWORD kept = storm->GetAttributes(archive);
    DWORD crc = 0;
    if ((kept & MPQ_ATTRIBUTE_CRC32) &&
        storm->GetFileInfo(member, SFileInfoCRC32, &crc, sizeof crc, nullptr) && crc != 0) {
        check->kind = MemberCheck::Kind::Crc32;
        check->expected = crc;
        check->crc = 0;
    } else if (kept & MPQ_ATTRIBUTE_MD5) {
        check->kind = MemberCheck::Kind::Md5;
        check->name = name;
    }
}

int CheckData(HANDLE archive, MemberCheck* check, const void* data, uint32_t count) {
    if (check->kind == MemberCheck::Kind::None || count == 0 || check->seen >= check->size) {
        return 0;
    }
    check->seen += count;
    if (check->kind == MemberCheck::Kind::Crc32) {
        check->crc = Crc32(check->crc, data, count);
    }
    if (check->seen < check->size) {
        return 0;
    }
    if (check->kind == MemberCheck::Kind::Crc32) {
        return check->crc == check->expected ? 0 : EBADMSG;
    }
    // MD5 is rare and StormLib keeps it to itself: it reads the member again.
    DWORD result = Storm()->VerifyFile(archive, check->name.c_str(), SFILE_VERIFY_FILE_MD5);
    return (result & (VERIFY_FILE_MD5_ERROR | VERIFY_READ_ERROR)) ? EBADMSG : 0;
}

int CheckMemberFits(HANDLE archive, HANDLE member, uint64_t fileSize) {
    const StormApi* storm = Storm();
    ULONGLONG headerOffset = 0;
    ULONGLONG offset = 0;
    DWORD packed = 0;
    if (!storm->GetFileInfo(archive, SFileMpqHeaderOffset, &headerOffset, sizeof headerOffset,
                            nullptr) ||
        !storm->GetFileInfo(member, SFileInfoByteOffset, &offset, sizeof offset, nullptr) ||
        !storm->GetFileInfo(member, SFileInfoCompressedSize, &packed, sizeof packed, nullptr)) {
        return 0;
    }
    if (headerOffset > fileSize) {
        return EBADMSG;
    }
    uint64_t room = fileSize - headerOffset;
    return offset <= room && packed <= room - offset ? 0 : EBADMSG;
}

} // namespace sfmpq
