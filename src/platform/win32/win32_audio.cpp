#include "platform/win32/win32_audio.h"

#include "platform/sample_rate.h"
#include "platform/win32/audio_trace.h"
#include "platform/win32/com_ptr.h"

#include <windows.h>

#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <propidl.h>

#include <cstring>
#include <vector>

namespace platform::win32 {
namespace {

// Device property keys (functiondiscoverykeys_devpkey.h), spelled out so no
// GUID library is needed.
constexpr GUID kDeviceFmtid = {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}};
constexpr GUID kInterfaceFmtid = {0x026e516e, 0xb814, 0x414b, {0x83, 0xcd, 0x85, 0x6d, 0x6f, 0xef, 0x48, 0x22}};
constexpr PROPERTYKEY kFriendlyName = {kDeviceFmtid, 14};
constexpr PROPERTYKEY kDeviceDesc = {kDeviceFmtid, 2};
constexpr PROPERTYKEY kInterfaceFriendlyName = {kInterfaceFmtid, 2};
constexpr GUID kSubtypeIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

constexpr REFERENCE_TIME kHundredNanosPerMicro = 10;
// AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY, which older SDK headers lack.
constexpr DWORD kSrcDefaultQuality = 0x08000000;
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND): GetDevice with an unknown id.
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490);

thread_local AudioError tLastError;

// Maps a failing HRESULT to our result and notes it for the log.
AudioResult fail(HRESULT hr, const char* context)
{
    tLastError = {static_cast<int32_t>(hr), context};
    switch (hr) {
    case AUDCLNT_E_DEVICE_INVALIDATED:
    case AUDCLNT_E_SERVICE_NOT_RUNNING:
        return AudioResult::DeviceGone;
    case kNotFound:
        return AudioResult::NotFound;
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
    case E_NOINTERFACE:
    case E_NOTIMPL:
    case AUDCLNT_E_ENDPOINT_OFFLOAD_NOT_CAPABLE:
        return AudioResult::Unsupported;
    case AUDCLNT_E_NOT_INITIALIZED:
    case AUDCLNT_E_ALREADY_INITIALIZED:
    case AUDCLNT_E_NOT_STOPPED:
    case AUDCLNT_E_EVENTHANDLE_NOT_SET:
    case AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED:
        return AudioResult::WrongState;
    case AUDCLNT_E_BUFFER_TOO_LARGE:
    case AUDCLNT_E_BUFFER_SIZE_ERROR:
    case AUDCLNT_E_OUT_OF_ORDER:
    case AUDCLNT_E_BUFFER_ERROR:
    case AUDCLNT_E_BUFFER_OPERATION_PENDING:
        return AudioResult::BufferError;
    case E_ACCESSDENIED:
    case AUDCLNT_E_DEVICE_IN_USE:
    case AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED:
    case AUDCLNT_E_CPUUSAGE_EXCEEDED:
    case AUDCLNT_E_ENDPOINT_CREATE_FAILED:
    case AUDCLNT_E_RESOURCES_INVALIDATED:
        return AudioResult::Refused;
    default:
        return AudioResult::Failed;
    }
}

AudioResult check(HRESULT hr, const char* context)
{
    return SUCCEEDED(hr) ? AudioResult::Ok : fail(hr, context);
}

EDataFlow dataFlow(Flow flow)
{
    return flow == Flow::Capture ? eCapture : eRender;
}

// A property that holds a wide string, or nothing.
bool readString(IPropertyStore& store, const PROPERTYKEY& key, std::wstring& out)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    bool found = false;
    if (SUCCEEDED(store.GetValue(key, &value)) && value.vt == VT_LPWSTR && value.pwszVal) {
        out = value.pwszVal;
        found = true;
    }
    PropVariantClear(&value);
    return found;
}

ComPtr<IMMDeviceEnumerator> createEnumerator()
{
    ensureCom();
    ComPtr<IMMDeviceEnumerator> enumerator;
    const HRESULT hr = CoCreateInstance(
        __uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator), enumerator.putVoid());
    if (FAILED(hr)) {
        fail(hr, "CoCreateInstance(MMDeviceEnumerator)");
        return nullptr;
    }
    return enumerator;
}

// Frames of exact digital silence in a block, for the trace.
uint32_t silentFrames(const float* interleaved, uint32_t frames)
{
    uint32_t silent = 0;
    for (uint32_t i = 0; i < frames; ++i)
        silent += interleaved[2 * i] == 0.0f && interleaved[2 * i + 1] == 0.0f ? 1 : 0;
    return silent;
}

class WasapiRender final : public RenderService {
public:
    WasapiRender(ComPtr<IAudioClient> client, ComPtr<IAudioRenderClient> render, uint32_t traceId, uint32_t frameBytes)
        : client_(std::move(client)), render_(std::move(render)), traceId_(traceId), frameBytes_(frameBytes)
    { }

    AudioResult padding(uint32_t& frames) override
    {
        UINT32 queued = 0;
        const HRESULT hr = client_->GetCurrentPadding(&queued);
        audioTrace(TraceKind::Padding, hr, traceId_, queued);
        const AudioResult r = check(hr, "GetCurrentPadding");
        frames = r == AudioResult::Ok ? queued : 0;
        return r;
    }

    AudioResult write(const float* interleaved, uint32_t frames) override
    {
        BYTE* data = nullptr;
        const HRESULT got = render_->GetBuffer(frames, &data);
        if (FAILED(got))
            audioTrace(TraceKind::Write, got, traceId_, frames);
        if (auto r = check(got, "IAudioRenderClient::GetBuffer"); r != AudioResult::Ok)
            return r;
        std::memcpy(data, interleaved, size_t{frames} * 2 * sizeof(float));
        const HRESULT released = render_->ReleaseBuffer(frames, 0);
        audioTrace(TraceKind::Write, released, traceId_, frames, 0, audioTraceOn() ? silentFrames(interleaved, frames) : 0);
        return check(released, "IAudioRenderClient::ReleaseBuffer");
    }

    AudioResult writeFrames(const void* frames, uint32_t count) override
    {
        BYTE* data = nullptr;
        const HRESULT got = render_->GetBuffer(count, &data);
        audioTrace(TraceKind::Write, got, traceId_, count);
        if (auto r = check(got, "IAudioRenderClient::GetBuffer"); r != AudioResult::Ok)
            return r;
        std::memcpy(data, frames, size_t{count} * frameBytes_);
        return check(render_->ReleaseBuffer(count, 0), "IAudioRenderClient::ReleaseBuffer");
    }

private:
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioRenderClient> render_;
    uint32_t traceId_;
    uint32_t frameBytes_; // of the format the stream was initialised with
};

class WasapiCapture final : public CaptureService {
public:
    WasapiCapture(ComPtr<IAudioCaptureClient> capture, uint32_t traceId)
        : capture_(std::move(capture)), traceId_(traceId)
    { }

    AudioResult nextPacketSize(uint32_t& frames) override
    {
        UINT32 size = 0;
        const HRESULT hr = capture_->GetNextPacketSize(&size);
        audioTrace(TraceKind::PacketSize, hr, traceId_, size);
        const AudioResult r = check(hr, "GetNextPacketSize");
        frames = r == AudioResult::Ok ? size : 0;
        return r;
    }

    AudioResult getPacket(CapturePacket& packet) override
    {
        packet = {};
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 position = 0;
        UINT64 qpc = 0;
        const HRESULT hr = capture_->GetBuffer(&data, &frames, &flags, &position, &qpc);
        audioTrace(TraceKind::Packet, hr, traceId_, frames, position, flags);
        if (hr == AUDCLNT_S_BUFFER_EMPTY)
            return AudioResult::Ok;
        if (auto r = check(hr, "IAudioCaptureClient::GetBuffer"); r != AudioResult::Ok)
            return r;
        packet.data = reinterpret_cast<const float*>(data);
        packet.bytes = data;
        packet.frames = frames;
        packet.flags = (flags & AUDCLNT_BUFFERFLAGS_SILENT ? kPacketSilent : 0u)
            | (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY ? kPacketDiscontinuity : 0u);
        packet.devicePosition = position;
        packet.qpcPosition = qpc;
        return AudioResult::Ok;
    }

    AudioResult releasePacket(uint32_t frames) override
    {
        const HRESULT hr = capture_->ReleaseBuffer(frames);
        audioTrace(TraceKind::Release, hr, traceId_, frames);
        return check(hr, "IAudioCaptureClient::ReleaseBuffer");
    }

private:
    ComPtr<IAudioCaptureClient> capture_;
    uint32_t traceId_;
};

class WasapiClient final : public AudioClient {
public:
    explicit WasapiClient(ComPtr<IAudioClient> client) : client_(std::move(client)) { }
    ~WasapiClient() override
    {
        if (started_)
            client_->Stop();
    }

    AudioResult setProperties(const ClientProperties& properties) override
    {
        ComPtr<IAudioClient2> client2;
        if (auto r = check(client_.as(client2), "QueryInterface(IAudioClient2)"); r != AudioResult::Ok)
            return r;
        AudioClientProperties props{};
        props.cbSize = sizeof(props); // 16 bytes: size, offload, category, options
        props.bIsOffload = FALSE;
        props.eCategory = AudioCategory_Other;
        props.Options = properties.raw ? AUDCLNT_STREAMOPTIONS_RAW : AUDCLNT_STREAMOPTIONS_NONE;
        return check(client2->SetClientProperties(&props), "SetClientProperties");
    }

    AudioResult mixFormat(MixFormat& format) override
    {
        CoTaskMem<WAVEFORMATEX> wf;
        if (auto r = check(client_->GetMixFormat(wf.put()), "GetMixFormat"); r != AudioResult::Ok)
            return r;
        format = {};
        format.channels = wf->nChannels;
        format.sampleRate = wf->nSamplesPerSec;
        format.bitsPerSample = wf->wBitsPerSample;
        format.extraSize = wf->cbSize;
        if (wf->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
            format.format = SampleFormat::Float;
        } else if (wf->wFormatTag == WAVE_FORMAT_PCM) {
            format.format = SampleFormat::Pcm;
        } else if (wf->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
            format.extensible = true;
            format.format = SampleFormat::Other;
            if (wf->cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
                const auto* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wf.get());
                if (IsEqualGUID(ext->SubFormat, kSubtypeIeeeFloat))
                    format.format = SampleFormat::Float;
                else if (IsEqualGUID(ext->SubFormat, kSubtypePcm))
                    format.format = SampleFormat::Pcm;
            }
        } else {
            format.format = SampleFormat::Other;
        }
        return AudioResult::Ok;
    }

    AudioResult enginePeriod(EnginePeriod& period) override
    {
        ComPtr<IAudioClient3> client3;
        CoTaskMem<WAVEFORMATEX> wf;
        if (auto r = lowLatencyParts(client3, wf); r != AudioResult::Ok)
            return r;
        UINT32 def = 0, fundamental = 0, minimum = 0, maximum = 0;
        if (auto r = check(client3->GetSharedModeEnginePeriod(wf.get(), &def, &fundamental, &minimum, &maximum),
                "GetSharedModeEnginePeriod");
            r != AudioResult::Ok)
            return r;
        period = {def, fundamental, minimum, maximum};
        return AudioResult::Ok;
    }

    AudioResult initializeLowLatency(uint32_t periodFrames) override
    {
        ComPtr<IAudioClient3> client3;
        CoTaskMem<WAVEFORMATEX> wf;
        if (auto r = lowLatencyParts(client3, wf); r != AudioResult::Ok)
            return r;
        return check(
            client3->InitializeSharedAudioStream(AUDCLNT_STREAMFLAGS_EVENTCALLBACK, periodFrames, wf.get(), nullptr),
            "InitializeSharedAudioStream");
    }

    AudioResult initializeShared(const SharedStreamParams& params) override
    {
        DWORD flags = 0;
        if (params.autoConvertPcm)
            flags |= AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;
        if (params.srcDefaultQuality)
            flags |= kSrcDefaultQuality;
        if (params.eventCallback)
            flags |= AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
        if (params.loopback)
            flags |= AUDCLNT_STREAMFLAGS_LOOPBACK;
        const REFERENCE_TIME duration = params.bufferDurationMicros * kHundredNanosPerMicro;
        if (params.useMixFormat) {
            CoTaskMem<WAVEFORMATEX> mix;
            if (auto r = check(client_->GetMixFormat(mix.put()), "GetMixFormat"); r != AudioResult::Ok)
                return r;
            const AudioResult r
                = check(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, duration, 0, mix.get(), nullptr),
                    "IAudioClient::Initialize(mix format)");
            if (r == AudioResult::Ok)
                frameBytes_ = mix->nBlockAlign;
            return r;
        }
        WAVEFORMATEX wf{};
        wf.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
        wf.nChannels = 2;
        wf.nSamplesPerSec = kSampleRate;
        wf.nAvgBytesPerSec = 384000;
        wf.nBlockAlign = 8;
        wf.wBitsPerSample = 32;
        wf.cbSize = 0;
        frameBytes_ = wf.nBlockAlign;
        return check(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, duration, 0, &wf, nullptr),
            "IAudioClient::Initialize");
    }

    AudioResult setEvent(Event& event) override
    {
        if (!event.nativeHandle())
            return AudioResult::Unsupported;
        return check(client_->SetEventHandle(static_cast<HANDLE>(event.nativeHandle())), "SetEventHandle");
    }

    AudioResult bufferSize(uint32_t& frames) override
    {
        UINT32 size = 0;
        const AudioResult r = check(client_->GetBufferSize(&size), "GetBufferSize");
        frames = r == AudioResult::Ok ? size : 0;
        return r;
    }

    AudioResult start() override
    {
        const HRESULT hr = client_->Start();
        audioTrace(TraceKind::Start, hr, traceId_);
        const AudioResult r = check(hr, "IAudioClient::Start");
        started_ = started_ || r == AudioResult::Ok;
        return r;
    }

    AudioResult stop() override
    {
        started_ = false;
        const HRESULT hr = client_->Stop();
        audioTrace(TraceKind::Stop, hr, traceId_);
        return check(hr, "IAudioClient::Stop");
    }

    std::unique_ptr<RenderService> renderService(AudioResult& result) override
    {
        ComPtr<IAudioRenderClient> render;
        result = check(client_->GetService(__uuidof(IAudioRenderClient), render.putVoid()), "GetService(render)");
        if (result != AudioResult::Ok)
            return nullptr;
        ComPtr<IAudioClient> keep;
        client_.as(keep);
        traceOpen(false);
        return std::make_unique<WasapiRender>(std::move(keep), std::move(render), traceId_, frameBytes_);
    }

    std::unique_ptr<CaptureService> captureService(AudioResult& result) override
    {
        ComPtr<IAudioCaptureClient> capture;
        result = check(client_->GetService(__uuidof(IAudioCaptureClient), capture.putVoid()), "GetService(capture)");
        if (result != AudioResult::Ok)
            return nullptr;
        traceOpen(true);
        return std::make_unique<WasapiCapture>(std::move(capture), traceId_);
    }

private:
    void traceOpen(bool capture)
    {
        if (!audioTraceOn())
            return;
        UINT32 frames = 0;
        const HRESULT hr = client_->GetBufferSize(&frames);
        audioTrace(TraceKind::Open, hr, traceId_, capture ? 1 : 0, frames);
    }

    // The third-generation client and the mix format the low-latency path works with.
    AudioResult lowLatencyParts(ComPtr<IAudioClient3>& client3, CoTaskMem<WAVEFORMATEX>& wf)
    {
        if (auto r = check(client_.as(client3), "QueryInterface(IAudioClient3)"); r != AudioResult::Ok)
            return r;
        return check(client_->GetMixFormat(wf.put()), "GetMixFormat");
    }

    ComPtr<IAudioClient> client_;
    bool started_ = false;
    uint32_t traceId_ = audioTraceStreamId();
    uint32_t frameBytes_ = 8; // the fixed format's; the mix format's when initialised with it
};

// Names the calling thread where the system can (Windows 10 1607 on), so
// that profilers, and under wine the Unix tools that raise audio threads,
// find it.
void nameAudioThread()
{
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDescription = kernel
        ? reinterpret_cast<SetDescription>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")))
        : nullptr;
    if (setDescription)
        setDescription(GetCurrentThread(), L"ovix_audio");
}

class MmcssRegistration final : public AudioThreadRegistration {
public:
    MmcssRegistration()
    {
        nameAudioThread();
        DWORD taskIndex = 0;
        task_ = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
        if (task_ && AvSetMmThreadPriority(task_, AVRT_PRIORITY_CRITICAL)) {
            priority_ = ThreadPriority::ProAudio;
            return;
        }
        if (task_) {
            AvRevertMmThreadCharacteristics(task_);
            task_ = nullptr;
        }
        if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL))
            priority_ = ThreadPriority::TimeCritical;
    }
    ~MmcssRegistration() override
    {
        if (task_)
            AvRevertMmThreadCharacteristics(task_);
    }
    MmcssRegistration(const MmcssRegistration&) = delete;
    MmcssRegistration& operator=(const MmcssRegistration&) = delete;

    ThreadPriority priority() const override { return priority_; }

private:
    HANDLE task_ = nullptr;
    ThreadPriority priority_ = ThreadPriority::Unchanged;
};

class WasapiDevices final : public AudioDevices {
public:
    std::vector<EndpointInfo> enumerate(Flow flow, uint32_t stateMask) override
    {
        std::vector<EndpointInfo> list;
        auto enumerator = createEnumerator();
        if (!enumerator)
            return list;
        ComPtr<IMMDeviceCollection> collection;
        if (FAILED(enumerator->EnumAudioEndpoints(dataFlow(flow), stateMask, collection.put())))
            return list;
        UINT count = 0;
        if (FAILED(collection->GetCount(&count)))
            return list;
        for (UINT i = 0; i < count; ++i) {
            ComPtr<IMMDevice> device;
            if (FAILED(collection->Item(i, device.put())))
                continue;
            CoTaskMem<WCHAR> id;
            if (FAILED(device->GetId(id.put())) || !id.get())
                continue; // an endpoint without an id cannot be chosen
            EndpointInfo info;
            info.id = id.get();
            ComPtr<IPropertyStore> store;
            if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, store.put()))) {
                readString(*store.get(), kFriendlyName, info.name);
                readString(*store.get(), kDeviceDesc, info.description);
                readString(*store.get(), kInterfaceFriendlyName, info.interfaceName);
            }
            if (info.name.empty())
                info.name = kMissingName;
            list.push_back(std::move(info));
        }
        return list;
    }

    std::wstring defaultEndpointId(Flow flow) override
    {
        auto enumerator = createEnumerator();
        if (!enumerator)
            return {};
        ComPtr<IMMDevice> device;
        if (FAILED(enumerator->GetDefaultAudioEndpoint(dataFlow(flow), eConsole, device.put())))
            return {};
        CoTaskMem<WCHAR> id;
        if (FAILED(device->GetId(id.put())) || !id.get())
            return {};
        return id.get();
    }

    std::unique_ptr<AudioClient> activate(const std::wstring& id, Flow flow, AudioResult& result) override
    {
        auto enumerator = createEnumerator();
        if (!enumerator) {
            result = AudioResult::Failed;
            return nullptr;
        }
        ComPtr<IMMDevice> device;
        result = check(enumerator->GetDevice(id.c_str(), device.put()), "GetDevice");
        if (result != AudioResult::Ok)
            return nullptr;
        ComPtr<IMMEndpoint> endpoint;
        EDataFlow actual = eAll;
        if (SUCCEEDED(device.as(endpoint)) && SUCCEEDED(endpoint->GetDataFlow(&actual)) && actual != dataFlow(flow)) {
            result = AudioResult::NotFound;
            return nullptr;
        }
        ComPtr<IAudioClient> client;
        result = check(
            device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid()), "IMMDevice::Activate");
        if (result != AudioResult::Ok)
            return nullptr;
        return std::make_unique<WasapiClient>(std::move(client));
    }

    std::unique_ptr<AudioThreadRegistration> registerAudioThread() override
    {
        ensureCom();
        return std::make_unique<MmcssRegistration>();
    }
};

} // namespace

std::unique_ptr<AudioDevices> makeAudioDevices()
{
    return std::make_unique<WasapiDevices>();
}

std::unique_ptr<AudioClient> adoptAudioClient(IAudioClient* client)
{
    ComPtr<IAudioClient> owned;
    *owned.put() = client;
    return std::make_unique<WasapiClient>(std::move(owned));
}

AudioError lastAudioError()
{
    return tLastError;
}

} // namespace platform::win32
