// Byte streams in the manner of the original platform: Read answers how much it got,
// ReadBuffer insists on all of it and raises EReadError "Stream read error" otherwise.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/GlobalMemory.h"

namespace tilvorn {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    /// Reads up to count bytes; answers how many were read.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    /// Writes up to count bytes; answers how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    /// Moves the position; answers the new position.
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }
    virtual int64_t Size();

    /// Reads exactly count bytes or raises EReadError "Stream read error".
    void ReadBuffer(void* buffer, int64_t count);
    /// Writes exactly count bytes or raises EWriteError "Stream write error".
    void WriteBuffer(const void* buffer, int64_t count);
    /// Copies count bytes from source (all of it from the start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

/// A stream over memory owned elsewhere; never grows. Writes past the end are refused.
class TCustomMemoryStream : public TStream {
public:
    TCustomMemoryStream() = default;
    TCustomMemoryStream(const void* data, int64_t size) { SetPointer(const_cast<void*>(data), size); }
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return size_; }
    uint8_t* Memory() const { return memory_; }

protected:
    void SetPointer(void* data, int64_t size);
    uint8_t* memory_ = nullptr;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

/// A growable stream over memory of its own.
class TMemoryStream : public TCustomMemoryStream {
public:
    int64_t Write(const void* buffer, int64_t count) override;
    void SetSize(int64_t size);
    void Clear() { SetSize(0); }
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    const std::vector<uint8_t>& Bytes() const { return storage_; }

private:
    std::vector<uint8_t> storage_;
};

/// Reading over a movable global-memory block: locks it while the stream lives and exposes
/// its whole allocated size; the block stays its owner's and is not freed here.
class TGlobalMemoryStream : public TCustomMemoryStream {
public:
    explicit TGlobalMemoryStream(platform::HGLOBAL block);
    ~TGlobalMemoryStream() override;
    TGlobalMemoryStream(const TGlobalMemoryStream&) = delete;
    TGlobalMemoryStream& operator=(const TGlobalMemoryStream&) = delete;

private:
    platform::HGLOBAL block_;
};

enum class FileMode { OpenRead, OpenReadWrite, Create };

/// A stream over a file. Opening failure raises EFOpenError, creating failure EFCreateError.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, FileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override;
    const std::string& FileName() const { return fileName_; }
    /// Pushes buffered writes to the file; a failure (disk full) raises EWriteError.
    void Flush();

private:
    std::string fileName_;
    std::FILE* file_ = nullptr;
};

}  // namespace tilvorn
