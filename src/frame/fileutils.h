// File, directory, numbering, list and hexadecimal helpers shared by the adapters. They keep no
// state, never raise, and report failure by their Boolean or zero result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

// True when the path exists and is a directory.
bool DirectoryExists(const std::string& Dir);
// Dir unchanged if empty or ending with "\"; a bare drive letter gets ":\"; otherwise "\" appended.
std::string IncludeDirDelimiter(const std::string& Dir);

bool CopyFileByStreams(const std::string& Src, const std::string& Dst);
std::string IntToStr3(int32_t N);
// Reads the whole file into Buffer when it has at most Size bytes; Size becomes the file size.
bool ReadFileToBuffer(const std::string& FileName, void* Buffer, int32_t& Size);
bool WriteBufferToFile(const std::string& FileName, const void* Buffer, int32_t Size);
// Largest number at the "*" of Mask among Dir's files, plus 1 (1 when none; 0 without "*" or Dir).
int32_t NextNumberInMask(const std::string& Dir, const std::string& Mask);
// Appends every ";"-separated piece (untrimmed, possibly empty); returns the number of pieces.
int32_t ParseSemicolonList(const char* Text, std::vector<std::string>& List);
void FindFilesByExtension(const std::string& Dir, const std::string& Ext, std::vector<std::string>& List,
                          bool Recursive);
int32_t NextNumberByExtension(const std::string& Dir, const std::string& BaseName);
// True when more than Seconds have passed between Start and now, both full date-times (days).
bool TimeoutElapsed(int32_t Seconds, double Start);
std::string BytesToHex(const uint8_t* Data, int32_t Len, int32_t GroupLen, int32_t LineLen);
std::string BytesToHexReversed(const uint8_t* Data, int32_t Len);
bool HexToBytes(const std::string& Hex, uint8_t* Buffer, int32_t& Size);
bool HexToBytesReversed(const std::string& Hex, uint8_t* Buffer, int32_t& Size);
// True when Name can stand as a file name in a directory itself: no directory part, no device or
// wildcard characters, nothing that Windows would trim or read as a parent directory.
bool IsPlainFileName(const std::string& Name);
std::string CertCachePath(const std::string& Name, const std::string& Dir);
std::string ConvertCertDate(const std::string& Text);
std::string SwappedWideToString(uint8_t* Data, int32_t Len);
uint64_t UnixTimeToFileTime(int64_t Seconds);
int64_t FileSizePlusOne(const std::string& FileName);

// One second as a fraction of a day, as time-outs count it.
constexpr double kOneSecond = 0.000011574;

}  // namespace zk
