// ddsd: the sound unit. TDDSD owns the DirectSound object and a fixed set of
// channels; waves hold a whole clip in a static buffer and a channel plays a
// duplicate of it, so one wave can sound on several channels at once.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/qda.h"
#include "media_base.h"
#include "media_form.h"

namespace zt {

class EDDSD : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TDDSDDebugOption { dsoHaltOnError, dsoDebugMessage, dsoExceptOnError };
using TDDSDDebugOptions = SetOf<TDDSDDebugOption>;

// Writes a line to "ddsd.debug" with dsoDebugMessage; raises EDDSD with
// dsoExceptOnError.
void DDSDDebugLog(const std::string& Message);
HRESULT DDSDCheckResult(HRESULT Code, const std::string& Message);

class TDDSD;
class TDDSDChannel;

class TDDSDGenWave {
 public:
  // Loads a WAV file.
  TDDSDGenWave(TDDSD& Owner, bool Is3D, const std::string& FileName);
  // Loads a WAV member of a QDA archive.
  static std::unique_ptr<TDDSDGenWave> CreateFromArchive(TDDSD& Owner,
                                                         const std::string& ArchiveName,
                                                         const std::string& MemberName, bool Is3D);
  virtual ~TDDSDGenWave();
  TDDSDGenWave(const TDDSDGenWave&) = delete;
  TDDSDGenWave& operator=(const TDDSDGenWave&) = delete;

  ComRef<IDirectSoundBuffer> Buffer;
  WAVEFORMATEX Format{};
  std::uint32_t DataSize = 0;
  TDDSD& Owner;
  bool Shared = false;

 protected:
  struct FromArchive {};
  // A member beyond the budget (or, without one, its own bound) is logged and
  // leaves the wave silent; any other extraction failure raises EDDSD.
  TDDSDGenWave(FromArchive, TDDSD& Owner, const std::string& ArchiveName,
               const std::string& MemberName, bool Is3D, QdaBudget* Budget = nullptr);

 private:
  void LoadWAV(bool Is3D, const std::string& FileName);
  // The whole "fmt " chunk; Format is its first part.
  std::vector<std::uint8_t> format_bytes_;
};

class TDDSDWaveData : public TDDSDGenWave {
 public:
  TDDSDWaveData(TDDSD& Owner, const std::string& ArchiveName, const std::string& MemberName,
                QdaBudget* Budget = nullptr);
};

class TDDSDParams3D {
 public:
  explicit TDDSDParams3D(TDDSDChannel& Channel);
  void Assign(TDDSDParams3D& Source);
  TDDSDChannel& Channel;
  DS3DBUFFER Params;
};

class TDDSDListener {
 public:
  explicit TDDSDListener(TDDSD& Owner);
  TDDSD& Owner;
  DS3DLISTENER Params;
};

class TDDSDChannel {
 public:
  explicit TDDSDChannel(TDDSD& Owner);
  ~TDDSDChannel();
  TDDSDChannel(const TDDSDChannel&) = delete;
  TDDSDChannel& operator=(const TDDSDChannel&) = delete;

  void setWaveData(TDDSDGenWave* Wave);
  void Play();
  void Stop();
  std::uint32_t GetStatus();

  ComRef<IDirectSoundBuffer> Buffer;
  ComRef<IDirectSound3DBuffer> Buffer3D;
  bool Is3D = false;
  TDDSD& Owner;
  std::uint32_t Frequency = 0;
  TDDSDGenWave* CurrentWave = nullptr;
  bool Shared = false;
  std::unique_ptr<TDDSDParams3D> Params3D;
};

class TDDSD : public TComponent {
 public:
  explicit TDDSD(TMediaForm& Owner);
  ~TDDSD() override;

  void Loaded() override;
  bool Initialize();
  TDDSDChannel* GetChannel(std::int32_t Index);

  TDDSDDebugOptions DebugOption() const { return debug_option_; }
  void SetDebugOption(TDDSDDebugOptions Value);

  bool Use3D = false;
  std::uint32_t ChannelCount = 8;
  bool StickyFocus = true;

  ComRef<IDirectSound> DirectSound;
  ComRef<IDirectSoundBuffer> PrimaryBuffer;
  ComRef<IDirectSound3DListener> Listener3D;
  std::unique_ptr<TDDSDListener> Listener;
  std::vector<std::unique_ptr<TDDSDChannel>> Channels;
  bool Initialised = false;

 private:
  TDDSDDebugOptions debug_option_;
};

}  // namespace zt
