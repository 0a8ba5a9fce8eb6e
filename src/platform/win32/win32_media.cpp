#include "platform/win32/com_ptr.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <propidl.h>

#include <cstring>

namespace platform::win32 {
namespace {

// Media Foundation is loaded from the system folder at run time and never
// linked: a Windows without the Media Feature Pack lacks these libraries, and
// the program must still start there (only clips and exports then fail).
struct MfApi {
    using CreateAttributesFn = HRESULT(WINAPI*)(IMFAttributes**, UINT32);
    using CreateMediaTypeFn = HRESULT(WINAPI*)(IMFMediaType**);
    using CreateMemoryBufferFn = HRESULT(WINAPI*)(DWORD, IMFMediaBuffer**);
    using CreateSampleFn = HRESULT(WINAPI*)(IMFSample**);
    using CreateSourceReaderFn = HRESULT(WINAPI*)(LPCWSTR, IMFAttributes*, IMFSourceReader**);
    using CreateSinkWriterFn = HRESULT(WINAPI*)(LPCWSTR, IMFByteStream*, IMFAttributes*, IMFSinkWriter**);
    using TranscodeTypesFn = HRESULT(WINAPI*)(REFGUID, DWORD, IMFAttributes*, IMFCollection**);

    bool loaded = false; // mfplat and mfreadwrite with every function used from them
    CreateAttributesFn createAttributes = nullptr;
    CreateMediaTypeFn createMediaType = nullptr;
    CreateMemoryBufferFn createMemoryBuffer = nullptr;
    CreateSampleFn createSample = nullptr;
    CreateSourceReaderFn createSourceReader = nullptr;
    CreateSinkWriterFn createSinkWriter = nullptr;
    TranscodeTypesFn transcodeTypes = nullptr; // from mf.dll; may be missing on its own
};

HMODULE loadSystemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <class Fn> Fn function(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Loaded once per process; the libraries stay loaded for its life.
const MfApi& mfApi()
{
    static const MfApi api = [] {
        MfApi a;
        const HMODULE plat = loadSystemLibrary(L"mfplat.dll");
        const HMODULE readWrite = plat ? loadSystemLibrary(L"mfreadwrite.dll") : nullptr;
        a.createAttributes = function<MfApi::CreateAttributesFn>(plat, "MFCreateAttributes");
        a.createMediaType = function<MfApi::CreateMediaTypeFn>(plat, "MFCreateMediaType");
        a.createMemoryBuffer = function<MfApi::CreateMemoryBufferFn>(plat, "MFCreateMemoryBuffer");
        a.createSample = function<MfApi::CreateSampleFn>(plat, "MFCreateSample");
        a.createSourceReader = function<MfApi::CreateSourceReaderFn>(readWrite, "MFCreateSourceReaderFromURL");
        a.createSinkWriter = function<MfApi::CreateSinkWriterFn>(readWrite, "MFCreateSinkWriterFromURL");
        a.loaded = a.createAttributes && a.createMediaType && a.createMemoryBuffer && a.createSample
            && a.createSourceReader && a.createSinkWriter;
        if (a.loaded)
            a.transcodeTypes = function<MfApi::TranscodeTypesFn>(
                loadSystemLibrary(L"mf.dll"), "MFTranscodeGetAudioOutputAvailableTypes");
        return a;
    }();
    return api;
}

bool runningUnderWine()
{
    static const bool wine = function<FARPROC>(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

MediaCode codeOf(HRESULT hr)
{
    return hr == S_OK ? kMediaFailed : static_cast<MediaCode>(hr);
}

constexpr MediaCode kNoLibraries = static_cast<MediaCode>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));

// The partial uncompressed type a reader is asked for, or a writer is fed.
HRESULT makeAudioType(const AudioType& format, ComPtr<IMFMediaType>& type)
{
    HRESULT hr = mfApi().createMediaType(type.put());
    const UINT32 align = format.channels * (format.bitsPerSample / 8);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_SUBTYPE, format.isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, format.channels);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.sampleRate);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, format.bitsPerSample);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, align);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, align * format.sampleRate);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    return hr;
}

UINT32 uint32Of(IMFAttributes* attributes, REFGUID key)
{
    UINT32 value = 0;
    return SUCCEEDED(attributes->GetUINT32(key, &value)) ? value : 0;
}

// An owning reference to a COM object for the seam's untyped handles.
std::shared_ptr<void> share(IUnknown* object)
{
    object->AddRef();
    return std::shared_ptr<void>(object, [](void* p) { static_cast<IUnknown*>(p)->Release(); });
}

constexpr DWORD kAudioStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);

class WinMediaReader final : public MediaReader {
public:
    explicit WinMediaReader(ComPtr<IMFSourceReader> reader) : reader_(std::move(reader)) { }
    ~WinMediaReader() override { unlock(); }

    bool selectFirstAudioStream() override
    {
        return SUCCEEDED(reader_->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE))
            && SUCCEEDED(reader_->SetStreamSelection(kAudioStream, TRUE));
    }

    bool requestOutput(const AudioType& type) override
    {
        ComPtr<IMFMediaType> wanted;
        if (FAILED(makeAudioType(type, wanted))
            || FAILED(reader_->SetCurrentMediaType(kAudioStream, nullptr, wanted.get())))
            return false;
        // A reader that takes the type but delivers another would have its
        // bytes read in the wrong layout: accept only what is then current.
        if (!delivers(type))
            return false;
        output_ = type;
        return true;
    }

    bool nativeType(AudioType& type) override
    {
        ComPtr<IMFMediaType> native;
        if (FAILED(reader_->GetNativeMediaType(kAudioStream, 0, native.put())))
            return false;
        GUID subtype{};
        type.isFloat = SUCCEEDED(native->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFAudioFormat_Float;
        type.sampleRate = uint32Of(native.get(), MF_MT_AUDIO_SAMPLES_PER_SECOND);
        type.channels = uint32Of(native.get(), MF_MT_AUDIO_NUM_CHANNELS);
        type.bitsPerSample = uint32Of(native.get(), MF_MT_AUDIO_BITS_PER_SAMPLE);
        type.channelMask = uint32Of(native.get(), MF_MT_AUDIO_CHANNEL_MASK);
        return true;
    }

    std::optional<int64_t> duration() override
    {
        PROPVARIANT value;
        PropVariantInit(&value);
        std::optional<int64_t> result;
        if (SUCCEEDED(reader_->GetPresentationAttribute(
                static_cast<DWORD>(MF_SOURCE_READER_MEDIASOURCE), MF_PD_DURATION, &value))
            && value.vt == VT_UI8)
            result = static_cast<int64_t>(value.uhVal.QuadPart);
        PropVariantClear(&value);
        return result;
    }

    bool setPosition(int64_t position) override
    {
        reader_->Flush(kAudioStream);
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_I8;
        value.hVal.QuadPart = position;
        return SUCCEEDED(reader_->SetCurrentPosition(GUID_NULL, value));
    }

    ReadStatus read(MediaSample& sample, MediaCode& code) override
    {
        unlock();
        sample = {};
        DWORD flags = 0;
        LONGLONG timestamp = 0;
        ComPtr<IMFSample> read;
        const HRESULT hr = reader_->ReadSample(kAudioStream, 0, nullptr, &flags, &timestamp, read.put());
        if (FAILED(hr) || (flags & MF_SOURCE_READERF_ERROR)) {
            code = codeOf(hr);
            return ReadStatus::Error;
        }
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM)
            return ReadStatus::EndOfStream;
        // The caller reads every sample in the layout it asked for; a reader
        // that switched to another mid-stream ends the stream as an error
        // rather than give noise.
        if ((flags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED) && output_ && !delivers(*output_)) {
            code = static_cast<MediaCode>(MF_E_INVALIDMEDIATYPE);
            return ReadStatus::Error;
        }
        if (!read || FAILED(read->ConvertToContiguousBuffer(locked_.put())))
            return ReadStatus::NoData;
        BYTE* data = nullptr;
        DWORD length = 0;
        if (FAILED(locked_->Lock(&data, nullptr, &length))) {
            locked_.reset();
            return ReadStatus::NoData;
        }
        sample.bytes = {data, length};
        sample.timestamp = timestamp;
        return ReadStatus::Data;
    }

private:
    bool delivers(const AudioType& type)
    {
        ComPtr<IMFMediaType> current;
        GUID subtype{};
        return SUCCEEDED(reader_->GetCurrentMediaType(kAudioStream, current.put()))
            && SUCCEEDED(current->GetGUID(MF_MT_SUBTYPE, &subtype))
            && subtype == (type.isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM)
            && uint32Of(current.get(), MF_MT_AUDIO_NUM_CHANNELS) == type.channels
            && uint32Of(current.get(), MF_MT_AUDIO_SAMPLES_PER_SECOND) == type.sampleRate
            && uint32Of(current.get(), MF_MT_AUDIO_BITS_PER_SAMPLE) == type.bitsPerSample;
    }

    // The previous sample's bytes stay readable until the next call.
    void unlock()
    {
        if (locked_)
            locked_->Unlock();
        locked_.reset();
    }

    ComPtr<IMFSourceReader> reader_;
    ComPtr<IMFMediaBuffer> locked_;   // locked while set
    std::optional<AudioType> output_; // the type the reader last accepted
};

class WinMediaWriter final : public MediaWriter {
public:
    WinMediaWriter(ComPtr<IMFSinkWriter> writer, DWORD stream) : writer_(std::move(writer)), stream_(stream) { }
    // An unfinished writer shuts its sink down so that the file is closed
    // now and the caller can delete it.
    ~WinMediaWriter() override
    {
        if (!finalized_)
            shutDown(writer_.get());
    }

    static void shutDown(IMFSinkWriter* writer)
    {
        ComPtr<IMFMediaSink> sink;
        if (SUCCEEDED(writer->GetServiceForStream(
                static_cast<DWORD>(MF_SINK_WRITER_MEDIASINK), GUID_NULL, __uuidof(IMFMediaSink), sink.putVoid())))
            sink->Shutdown();
    }

    MediaCode write(const int16_t* interleaved, uint32_t frames, int64_t time, int64_t duration) override
    {
        const DWORD bytes = frames * 4;
        ComPtr<IMFMediaBuffer> buffer;
        HRESULT hr = mfApi().createMemoryBuffer(bytes, buffer.put());
        BYTE* data = nullptr;
        if (SUCCEEDED(hr))
            hr = buffer->Lock(&data, nullptr, nullptr);
        if (SUCCEEDED(hr)) {
            std::memcpy(data, interleaved, bytes);
            buffer->Unlock();
            hr = buffer->SetCurrentLength(bytes);
        }
        ComPtr<IMFSample> sample;
        if (SUCCEEDED(hr))
            hr = mfApi().createSample(sample.put());
        if (SUCCEEDED(hr))
            hr = sample->AddBuffer(buffer.get());
        if (SUCCEEDED(hr))
            hr = sample->SetSampleTime(time);
        if (SUCCEEDED(hr))
            hr = sample->SetSampleDuration(duration);
        if (SUCCEEDED(hr))
            hr = writer_->WriteSample(stream_, sample.get());
        return SUCCEEDED(hr) ? kMediaOk : codeOf(hr);
    }

    MediaCode finalize() override
    {
        const HRESULT hr = writer_->Finalize();
        finalized_ = SUCCEEDED(hr);
        return finalized_ ? kMediaOk : codeOf(hr);
    }

private:
    ComPtr<IMFSinkWriter> writer_;
    DWORD stream_ = 0;
    bool finalized_ = false;
};

class WinMedia final : public Media {
public:
    bool available() override { return mfApi().loaded; }

    std::shared_ptr<void> enterWorkerThread() override { return std::make_shared<ComScope>(); }

    std::unique_ptr<MediaReader> openReader(const std::wstring& pathOrLink, ReaderUse use, MediaCode& code) override
    {
        code = kMediaOk;
        if (!available()) {
            code = kNoLibraries;
            return nullptr;
        }
        ComPtr<IMFAttributes> attributes;
        if (use == ReaderUse::Streaming) {
            // Lets the reader give the sound of video files too.
            HRESULT hr = mfApi().createAttributes(attributes.put(), 1);
            if (SUCCEEDED(hr))
                hr = attributes->SetUINT32(MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING, TRUE);
            if (FAILED(hr)) {
                code = codeOf(hr);
                return nullptr;
            }
        }
        ComPtr<IMFSourceReader> reader;
        const HRESULT hr = mfApi().createSourceReader(pathOrLink.c_str(), attributes.get(), reader.put());
        if (FAILED(hr) || !reader) {
            code = codeOf(hr);
            return nullptr;
        }
        return std::make_unique<WinMediaReader>(std::move(reader));
    }

    std::vector<EncoderType> encoderTypes(EncoderFormat format) override
    {
        // Wine 8 has no MFTranscodeGetAudioOutputAvailableTypes: its stub
        // aborts the whole process. Offering nothing there makes the export
        // ask for WAV instead.
        if (runningUnderWine() || !mfApi().transcodeTypes)
            return {};
        ComPtr<IMFCollection> offered;
        if (FAILED(mfApi().transcodeTypes(subtypeOf(format), MFT_ENUM_FLAG_ALL, nullptr, offered.put())) || !offered)
            return {};
        DWORD count = 0;
        if (FAILED(offered->GetElementCount(&count)))
            return {};
        std::vector<EncoderType> types;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IUnknown> element;
            ComPtr<IMFMediaType> type;
            if (FAILED(offered->GetElement(i, element.put())) || !element || FAILED(element.as(type)))
                continue;
            types.push_back({uint32Of(type.get(), MF_MT_AUDIO_SAMPLES_PER_SECOND),
                uint32Of(type.get(), MF_MT_AUDIO_NUM_CHANNELS), uint32Of(type.get(), MF_MT_AUDIO_AVG_BYTES_PER_SECOND),
                uint32Of(type.get(), MF_MT_AUDIO_BITS_PER_SAMPLE), share(type.get())});
        }
        return types;
    }

    // output.native holds an IMFMediaType (one that encoderTypes offered).
    std::unique_ptr<MediaWriter> createWriter(
        const std::wstring& path, const EncoderType& output, uint32_t sampleRate, MediaCode& code) override
    {
        code = kMediaOk;
        if (!available()) {
            code = kNoLibraries;
            return nullptr;
        }
        ComPtr<IMFMediaType> outputType;
        if (!output.native
            || FAILED(static_cast<IUnknown*>(output.native.get())
                          ->QueryInterface(__uuidof(IMFMediaType), outputType.putVoid()))) {
            code = static_cast<MediaCode>(E_INVALIDARG);
            return nullptr;
        }
        // The sink creates the file first and fails later on a type it cannot
        // take: a file that was not there before goes again on failure.
        const bool existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        ComPtr<IMFSinkWriter> writer;
        HRESULT hr = mfApi().createSinkWriter(path.c_str(), nullptr, nullptr, writer.put());
        DWORD stream = 0;
        if (SUCCEEDED(hr))
            hr = writer->AddStream(outputType.get(), &stream);
        ComPtr<IMFMediaType> input;
        if (SUCCEEDED(hr))
            hr = makeAudioType({false, 2, sampleRate, 16, 0}, input);
        if (SUCCEEDED(hr))
            hr = writer->SetInputMediaType(stream, input.get(), nullptr);
        if (SUCCEEDED(hr))
            hr = writer->BeginWriting();
        if (SUCCEEDED(hr))
            return std::make_unique<WinMediaWriter>(std::move(writer), stream);
        if (writer)
            WinMediaWriter::shutDown(writer.get());
        writer.reset();
        if (!existed)
            DeleteFileW(path.c_str());
        code = codeOf(hr);
        return nullptr;
    }

private:
    static const GUID& subtypeOf(EncoderFormat format)
    {
        switch (format) {
        case EncoderFormat::Mp3:
            return MFAudioFormat_MP3;
        case EncoderFormat::Aac:
            return MFAudioFormat_AAC;
        case EncoderFormat::WmaV8:
            return MFAudioFormat_WMAudioV8;
        case EncoderFormat::Flac:
            return MFAudioFormat_FLAC;
        }
        return MFAudioFormat_MP3;
    }
};

} // namespace

std::unique_ptr<Media> makeMedia()
{
    return std::make_unique<WinMedia>();
}

} // namespace platform::win32
