#pragma once
// The sounds of a unit's verdict: a short rising pair of tones on pass, a
// longer low tone on fail, so an operator whose eyes are on the fixture hears
// which board passed. The WAV files are made by the program itself at start
// (sine tones into a temporary folder). Playing never waits: without an audio
// device a sound is simply not heard. Muted, nothing is played.

#include <QByteArray>
#include <QObject>
#include <QTemporaryDir>
#include <memory>
#include <vector>

class QSoundEffect;

namespace app {

// 16-bit mono PCM WAV of the tones one after the other, each `milliseconds`
// long at `hertz`, faded in and out so they do not click.
struct Tone {
  int hertz = 0;
  int milliseconds = 0;
};
QByteArray ToneWav(const std::vector<Tone> &tones, int sampleRate = 22050);

class VerdictSounds : public QObject {
  Q_OBJECT
public:
  explicit VerdictSounds(QObject *parent = nullptr);
  ~VerdictSounds() override;

  void SetMuted(bool muted) { muted_ = muted; }
  bool Muted() const { return muted_; }
  void Play(bool passed);
  // How many sounds were asked to play (muted ones are not).
  int Played() const { return played_; }

private:
  QSoundEffect *Effect(bool passed);

  QTemporaryDir folder_;
  QSoundEffect *pass_ = nullptr;
  QSoundEffect *fail_ = nullptr;
  bool muted_ = false;
  int played_ = 0;
};

} // namespace app
