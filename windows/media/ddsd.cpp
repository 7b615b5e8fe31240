#include "ddsd.h"

#include <cstring>

#include "formats/decode_bounds.h"
#include "medialog.h"
#include "qdarc.h"
#include "text_codec.h"

namespace zt {

void DDSDDebugLog(const std::string& Message) {
  if (ddsd_log().debug_message) ddsd_log().write_line(Message);
  if (ddsd_log().option2) throw EDDSD(Message);
}

HRESULT DDSDCheckResult(HRESULT Code, const std::string& Message) {
  if (Code == 0) return 0;
  DDSDDebugLog(Message + error_code_suffix(Code));
  if (ddsd_log().halt_on_error) MediaHalt();
  return Code;
}

namespace {

// Chunks of a "fmt " record beyond this are not a wave format we can use.
constexpr LONG kMaxFormatChunk = 1024;

class MmioFile {
 public:
  explicit MmioFile(const std::string& name) {
    std::wstring w = utf8_to_wide(name);
    handle_ = mmioOpenW(w.data(), nullptr, MMIO_ALLOCBUF | MMIO_READ);
  }
  ~MmioFile() { close(); }
  MmioFile(const MmioFile&) = delete;
  MmioFile& operator=(const MmioFile&) = delete;
  HMMIO get() const { return handle_; }
  void close() {
    if (handle_) mmioClose(handle_, 0);
    handle_ = nullptr;
  }

 private:
  HMMIO handle_ = nullptr;
};

// Removes the temporary copy of an archive member however the load ends.
class TempFile {
 public:
  explicit TempFile(std::wstring path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

 private:
  std::wstring path_;
};

}  // namespace

// ---------------------------------------------------------------------------
// TDDSD

TDDSD::TDDSD(TMediaForm& Owner) : TComponent(Owner) {
  SetDebugOption({dsoHaltOnError});
}

void TDDSD::SetDebugOption(TDDSDDebugOptions Value) {
  debug_option_ = Value;
  ddsd_log().apply(Value.bits());
}

void TDDSD::Loaded() {
  ddsd_log().apply(debug_option_.bits());
  Initialize();
}

bool TDDSD::Initialize() {
  Channels.clear();
  for (std::uint32_t i = 0; i < ChannelCount; ++i)
    Channels.push_back(std::make_unique<TDDSDChannel>(*this));
  if (DirectSoundCreate(nullptr, DirectSound.put(), nullptr) != 0) {
    Initialised = false;
    return false;
  }
  Initialised = true;
  DDSDCheckResult(DirectSound->SetCooperativeLevel(Owner().Handle(), DSSCL_PRIORITY),
                  "DirectSoundの協調レベルの設定に失敗しました");
  DSBUFFERDESC d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  d.dwFlags = DSBCAPS_PRIMARYBUFFER | (Use3D ? DSBCAPS_CTRL3D : 0);
  DDSDCheckResult(DirectSound->CreateSoundBuffer(&d, PrimaryBuffer.put(), nullptr),
                  "一次バッファの作成に失敗しました");
  if (Use3D && PrimaryBuffer) {
    DDSDCheckResult(
        PrimaryBuffer->QueryInterface(IID_IDirectSound3DListener, Listener3D.put_void()),
        "DirectSound3D Listenerの作成に失敗しました");
    Listener.reset();
    Listener = std::make_unique<TDDSDListener>(*this);
  }
  return true;
}

TDDSDChannel* TDDSD::GetChannel(std::int32_t Index) {
  if (Index >= 0 &&
      static_cast<std::int64_t>(Index) <= static_cast<std::int64_t>(ChannelCount) - 1 &&
      static_cast<std::size_t>(Index) < Channels.size()) {
    return Channels[static_cast<std::size_t>(Index)].get();
  }
  DDSDDebugLog(format("チャンネル番号%dは無効です、%d～%dの範囲で指定してください", Index, 0,
                      static_cast<int>(ChannelCount) - 1));
  if (ddsd_log().halt_on_error) MediaHalt();
  return nullptr;
}

TDDSD::~TDDSD() {
  try {
    for (std::uint32_t i = 0; i < ChannelCount && i < Channels.size(); ++i) {
      if (GetChannel(static_cast<std::int32_t>(i))) Channels[i].reset();
    }
    Listener.reset();
    if (Listener3D) {
      DDSDCheckResult(static_cast<HRESULT>(Listener3D.release()),
                      "DirectSound3D Listnerの解放に失敗しました");
    }
    if (PrimaryBuffer) {
      DDSDCheckResult(static_cast<HRESULT>(PrimaryBuffer.release()),
                      "一次バッファの解放に失敗しました");
    }
    if (DirectSound) {
      DDSDCheckResult(static_cast<HRESULT>(DirectSound.release()),
                      "DirectSoundの解放に失敗しました");
    }
  } catch (...) {
    // An exception must not leave a destructor.
  }
  Channels.clear();
}

// ---------------------------------------------------------------------------
// Waves

TDDSDGenWave::TDDSDGenWave(TDDSD& Owner, bool Is3D, const std::string& FileName) : Owner(Owner) {
  LoadWAV(Is3D, FileName);
}

TDDSDGenWave::TDDSDGenWave(FromArchive, TDDSD& Owner, const std::string& ArchiveName,
                           const std::string& MemberName, bool Is3D, QdaBudget* Budget)
    : Owner(Owner) {
  const std::string failed = format("アーカイブファイル %s からの %s のオープンに失敗しました",
                                    ArchiveName.c_str(), MemberName.c_str());
  std::unique_ptr<TMemoryStream> member;
  try {
    member = ExtractFromQDA(ArchiveName, MemberName, Budget);
  } catch (const EQDARefused&) {
    // Too large to be a sound effect: like a damaged WAV, it stays silent.
    DDSDDebugLog(failed);
    return;
  } catch (const std::exception&) {
    throw EDDSD(failed);
  }
  wchar_t dir[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  bool ok = GetTempPathW(MAX_PATH + 1, dir) != 0 && GetTempFileNameW(dir, L"tmp", 0, path) != 0;
  if (!ok) throw EDDSD("WaveDataの展開に失敗しました");
  TempFile temp(path);
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) throw EDDSD("WaveDataの展開に失敗しました");
  const auto& bytes = member->Bytes();
  DWORD written = 0;
  ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
       written == bytes.size();
  CloseHandle(h);
  if (!ok) throw EDDSD("WaveDataの展開に失敗しました");
  member.reset();
  LoadWAV(Is3D, wide_to_utf8(path));
}

std::unique_ptr<TDDSDGenWave> TDDSDGenWave::CreateFromArchive(TDDSD& Owner,
                                                              const std::string& ArchiveName,
                                                              const std::string& MemberName,
                                                              bool Is3D) {
  return std::unique_ptr<TDDSDGenWave>(
      new TDDSDGenWave(FromArchive{}, Owner, ArchiveName, MemberName, Is3D));
}

TDDSDWaveData::TDDSDWaveData(TDDSD& Owner, const std::string& ArchiveName,
                             const std::string& MemberName, QdaBudget* Budget)
    : TDDSDGenWave(FromArchive{}, Owner, ArchiveName, MemberName, false, Budget) {}

void TDDSDGenWave::LoadWAV(bool Is3D, const std::string& FileName) {
  if (!Owner.Initialised) return;
  MmioFile file(FileName);
  if (!file.get()) {
    DDSDDebugLog(FileName + "が、見つかりません");
    return;
  }
  MMCKINFO riff{};
  riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
  if (mmioDescend(file.get(), &riff, nullptr, MMIO_FINDRIFF) != 0) {
    file.close();
    DDSDDebugLog(FileName + "は、WAVEファイルではありません");
    return;
  }
  MMCKINFO chunk{};
  chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
  if (mmioDescend(file.get(), &chunk, &riff, MMIO_FINDCHUNK) != 0) {
    file.close();
    DDSDDebugLog(FileName + "には、fmtチャンクが有りません");
    return;
  }
  // The whole chunk is kept: DirectSound reads cbSize extra bytes after the
  // record, so they must really be there.
  bool fmt_ok = chunk.cksize >= 16 && static_cast<LONG>(chunk.cksize) <= kMaxFormatChunk;
  if (fmt_ok) {
    format_bytes_.assign(std::max<std::size_t>(chunk.cksize, sizeof(WAVEFORMATEX)), 0);
    LONG got = mmioRead(file.get(), reinterpret_cast<HPSTR>(format_bytes_.data()),
                        static_cast<LONG>(chunk.cksize));
    fmt_ok = got == static_cast<LONG>(chunk.cksize);
    if (fmt_ok) {
      std::memcpy(&Format, format_bytes_.data(), sizeof Format);
      if (chunk.cksize < sizeof(WAVEFORMATEX)) Format.cbSize = 0;
      fmt_ok = sizeof(WAVEFORMATEX) + Format.cbSize <= format_bytes_.size();
      std::memcpy(format_bytes_.data(), &Format, sizeof Format);
    }
  }
  if (!fmt_ok) {
    file.close();
    DDSDDebugLog(FileName + "のfmtチャンクが不正です");
    return;
  }
  mmioAscend(file.get(), &chunk, 0);
  MMCKINFO data{};
  data.ckid = mmioFOURCC('d', 'a', 't', 'a');
  if (mmioDescend(file.get(), &data, &riff, MMIO_FINDCHUNK) != 0) {
    file.close();
    DDSDDebugLog(FileName + "には、dataチャンクが有りません");
    return;
  }
  // The buffer is made as large as the chunk claims: a sound effect of a rate
  // DirectSound plays, at most 30 s long, and no larger than an archive
  // member may be.
  if (Format.nBlockAlign == 0 || data.cksize > kQdaMaxMember ||
      !clip_fits(Format.nSamplesPerSec, data.cksize / Format.nBlockAlign)) {
    file.close();
    DDSDDebugLog(FileName + "は、効果音として扱える長さと周波数を超えています");
    return;
  }
  DSBUFFERDESC d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  d.dwFlags = DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLVOLUME |
              (Is3D ? DSBCAPS_CTRL3D : DSBCAPS_CTRLPAN) |
              (Owner.StickyFocus ? DSBCAPS_STICKYFOCUS : 0);
  d.dwBufferBytes = data.cksize;
  d.lpwfxFormat = reinterpret_cast<WAVEFORMATEX*>(format_bytes_.data());
  DDSDCheckResult(Owner.DirectSound->CreateSoundBuffer(&d, Buffer.put(), nullptr),
                  "サウンドバッファの作成に失敗しました");
  DataSize = data.cksize;
  if (!Buffer) return;
  void* p1 = nullptr;
  void* p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  if (DDSDCheckResult(Buffer->Lock(0, DataSize, &p1, &n1, &p2, &n2, 0),
                      "LoadWAV中に、サウンドバッファのロックが失敗しました") == 0) {
    if (p1) {
      std::memset(p1, 0, n1);
      mmioRead(file.get(), static_cast<HPSTR>(p1), static_cast<LONG>(n1));
    }
    if (p2) {
      std::memset(p2, 0, n2);
      mmioRead(file.get(), static_cast<HPSTR>(p2), static_cast<LONG>(n2));
    }
    DDSDCheckResult(Buffer->Unlock(p1, n1, p2, n2),
                    "LoadWAV中に、サウンドバッファのアンロックが失敗しました");
  }
  Buffer->SetFrequency(Format.nSamplesPerSec);
}

TDDSDGenWave::~TDDSDGenWave() {
  try {
    if (Buffer && Owner.Initialised) {
      DDSDCheckResult(static_cast<HRESULT>(Buffer.release()), "二次バッファの解放に失敗しました");
    }
  } catch (...) {
    // An exception must not leave a destructor.
  }
}

// ---------------------------------------------------------------------------
// Channels

TDDSDChannel::TDDSDChannel(TDDSD& Owner)
    : Owner(Owner), Params3D(std::make_unique<TDDSDParams3D>(*this)) {}

TDDSDChannel::~TDDSDChannel() {
  Buffer3D.release();
  Buffer.release();
}

void TDDSDChannel::setWaveData(TDDSDGenWave* Wave) {
  if (!Owner.Initialised) return;
  if (Shared) {
    if (Wave == CurrentWave) return;
    Stop();
  } else {
    if (Buffer3D) {
      DDSDCheckResult(static_cast<HRESULT>(Buffer3D.release()),
                      "setWaveData 3Dサウンドバッファの解放に失敗しました");
    }
    if (Buffer) {
      DDSDCheckResult(static_cast<HRESULT>(Buffer.release()),
                      "setWaveData サウンドバッファの解放に失敗しました");
    }
  }
  if (!Wave) return;
  // A wave that failed to load has no buffer: the channel stays silent.
  if (Wave->Buffer) {
    DDSDCheckResult(Owner.DirectSound->DuplicateSoundBuffer(Wave->Buffer.get(), Buffer.put()),
                    "setWaveData サウンドバッファの複製に失敗しました");
  }
  Shared = Wave->Shared;
  Is3D = false;
  Frequency = Wave->Format.nSamplesPerSec;
  CurrentWave = Wave;
}

void TDDSDChannel::Play() {
  if (!Buffer) return;
  Buffer->SetCurrentPosition(0);
  Buffer->Play(0, 0, 0);
}

void TDDSDChannel::Stop() {
  if (Buffer) Buffer->Stop();
}

std::uint32_t TDDSDChannel::GetStatus() {
  if (!Buffer) return 0;
  DWORD status = 0;
  Buffer->GetStatus(&status);
  return status;
}

// ---------------------------------------------------------------------------
// 3D parameters

TDDSDParams3D::TDDSDParams3D(TDDSDChannel& Channel) : Channel(Channel) {
  std::memset(&Params, 0, sizeof Params);
  Params.dwSize = sizeof Params;
  Params.dwInsideConeAngle = 360;
  Params.dwOutsideConeAngle = 360;
  Params.vConeOrientation.z = 1.0f;
  Params.lConeOutsideVolume = 0;
  Params.flMinDistance = 5.0f;
  Params.flMaxDistance = 100.0f;
  Params.dwMode = DS3DMODE_NORMAL;
}

void TDDSDParams3D::Assign(TDDSDParams3D& Source) {
  if (Source.Channel.Buffer3D) Source.Channel.Buffer3D->GetAllParameters(&Source.Params);
  Params = Source.Params;
  if (Channel.Buffer3D) {
    DDSDCheckResult(Channel.Buffer3D->SetAllParameters(&Params, DS3D_IMMEDIATE),
                    "Params3Dに指定されたパラメータが不適切です");
  }
}

TDDSDListener::TDDSDListener(TDDSD& Owner) : Owner(Owner) {
  std::memset(&Params, 0, sizeof Params);
  Params.dwSize = sizeof Params;
  Params.vOrientFront.z = 1.0f;
  Params.vOrientTop.y = 1.0f;
  Params.flDistanceFactor = 1.0f;
  Params.flRolloffFactor = 1.0f;
  Params.flDopplerFactor = 1.0f;
  if (Owner.Listener3D) {
    DDSDCheckResult(Owner.Listener3D->SetAllParameters(&Params, DS3D_IMMEDIATE),
                    "Listenerに指定されたパラメータが不適切です");
  }
}

}  // namespace zt
