#include "app/production/verdict_sounds.h"

#include <QFile>
#include <QSoundEffect>
#include <QUrl>
#include <QtEndian>
#include <cmath>
#include <numbers>

namespace app {

namespace {

void Put32(QByteArray &out, uint32_t v) {
  v = qToLittleEndian(v);
  out.append(reinterpret_cast<const char *>(&v), 4);
}
void Put16(QByteArray &out, uint16_t v) {
  v = qToLittleEndian(v);
  out.append(reinterpret_cast<const char *>(&v), 2);
}

} // namespace

QByteArray ToneWav(const std::vector<Tone> &tones, int sampleRate) {
  QByteArray pcm;
  for (const Tone &tone : tones) {
    const int samples = sampleRate * tone.milliseconds / 1000;
    const int fade = std::min(samples / 4, sampleRate / 200); // 5 ms
    for (int i = 0; i < samples; ++i) {
      double gain = 0.5;
      if (i < fade)
        gain *= double(i) / fade;
      else if (samples - i < fade)
        gain *= double(samples - i) / fade;
      const double v = gain * std::sin(2 * std::numbers::pi * tone.hertz * i / sampleRate);
      Put16(pcm, uint16_t(int16_t(std::lround(v * 32767))));
    }
  }
  QByteArray wav;
  wav.append("RIFF");
  Put32(wav, uint32_t(36 + pcm.size()));
  wav.append("WAVEfmt ");
  Put32(wav, 16);
  Put16(wav, 1); // PCM
  Put16(wav, 1); // mono
  Put32(wav, uint32_t(sampleRate));
  Put32(wav, uint32_t(sampleRate * 2));
  Put16(wav, 2);
  Put16(wav, 16);
  wav.append("data");
  Put32(wav, uint32_t(pcm.size()));
  return wav + pcm;
}

VerdictSounds::VerdictSounds(QObject *parent) : QObject(parent) {}

VerdictSounds::~VerdictSounds() = default;

QSoundEffect *VerdictSounds::Effect(bool passed) {
  QSoundEffect *&effect = passed ? pass_ : fail_;
  // Made when first needed: a station that never plays a sound never opens the audio system.
  if (!effect && folder_.isValid()) {
    const QString path = folder_.filePath(passed ? QStringLiteral("pass.wav") : QStringLiteral("fail.wav"));
    QFile file(path);
    const QByteArray wav = passed ? ToneWav({{880, 90}, {0, 40}, {1320, 140}}) : ToneWav({{220, 450}});
    if (!file.open(QIODevice::WriteOnly) || file.write(wav) != wav.size())
      return nullptr; // no sound rather than no station
    file.close();
    effect = new QSoundEffect(this);
    effect->setSource(QUrl::fromLocalFile(path));
  }
  return effect;
}

void VerdictSounds::Play(bool passed) {
  if (muted_)
    return;
  ++played_;
  if (QSoundEffect *effect = Effect(passed))
    effect->play();
}

} // namespace app
