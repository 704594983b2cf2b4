#pragma once
// An in-memory serial layer for tests: named devices whose far end a test
// drives. Bytes a test injects arrive at the port and are read under the same
// read rules as a real line (one burst after ReadIntervalTimeout ms of
// silence); bytes the port writes are collected for the test to inspect.
// Every failure the component and its threads handle can be switched on.
//
// One mutex guards all devices, ports, signals and records of a layer; one
// condition variable wakes every waiter on any change, so waits never poll.
// The layer knows which of its threads run and what each waits for, so a test
// can wait for the moment nothing more will happen (Settle) instead of
// guessing how long that takes.
// The silence and the total time-outs are measured on the layer's clock: with
// a base::ManualClock a burst ends exactly when the test moves time past it.

#include "base/clock.h"
#include "serial/serial_layer.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class MemoryDevice;
struct MemoryCore;

class MemorySerialLayer : public serial::SerialLayer {
public:
  explicit MemorySerialLayer(base::Clock &clock = base::SystemClock());
  ~MemorySerialLayer() override;

  // A device OpenPort can open by this exact name.
  std::shared_ptr<MemoryDevice> AddDevice(const QString &name);

  // Failure injection; each stays in force until switched off.
  void FailSignalCreation(serial::SignalUse use, bool fail = true); // signals and records made for `use`
  void FailThreadCreation(serial::ThreadRole role, bool fail = true);
  void FailBlocks(serial::BlockUse use, bool fail = true);
  void FailNotice(uint32_t code, bool fail = true); // posts of notices with this code are refused
  // The next wait whose list holds a signal made for `use` fails (once).
  void FailNextWait(serial::SignalUse use);
  // Called (on the changing thread, lock held: it must not call the layer)
  // at every change of any device, port or signal: a test waits for the line
  // to act by this rather than by polling.
  void OnChange(std::function<void()> hook);

  std::unique_ptr<serial::SerialPort> Open(const QString &name, serial::OpenFailure &failure) override;
  std::unique_ptr<serial::SerialSignal> CreateSignal(serial::SignalUse use) override;
  std::unique_ptr<serial::AsyncRecord> CreateRecord(serial::SignalUse use) override;
  int WaitAny(std::span<serial::SerialSignal *const> list) override;
  std::unique_ptr<serial::WorkerThread> CreateThread(serial::ThreadRole role, std::function<void()> body) override;
  serial::Block AllocateBlock(size_t size, serial::BlockUse use) override;
  bool AcceptNotice(uint32_t code) override;

  // Waits, at most `boundMs` of real time, until nothing more can happen on
  // the layer's lines unless the test acts: every thread of the layer waits
  // for what only the test can cause (bytes, a line event, a released write,
  // a move of a manual clock), and every notice they posted has been handled
  // on the calling thread, together with what those handlers did in turn.
  // With the system clock a burst still waiting for its silence is let end
  // first. After it, "nothing more happened" holds on any machine. False when
  // the bound ran out first: something kept running.
  bool Settle(int boundMs = 5000);
  // The first half of Settle alone: the threads wait, the notices they
  // posted are left undelivered.
  bool WaitUntilQuiet(int boundMs = 5000);

private:
  std::shared_ptr<MemoryCore> core_;
  std::map<QString, std::shared_ptr<MemoryDevice>> devices_;
};

// The far end of the line; thread-safe.
class MemoryDevice {
public:
  enum class Stage : uint8_t { Start, Result }; // fail when starting, or when the pending operation completes

  explicit MemoryDevice(std::shared_ptr<MemoryCore> core);
  ~MemoryDevice();

  // Bytes the port has written, in order.
  std::vector<uint8_t> Written() const;
  size_t WrittenSize() const;
  void ClearWritten();
  // Bytes arriving from the far end; a pending read completes with them once
  // ReadIntervalTimeout ms pass without further bytes.
  void Inject(const std::vector<uint8_t> &bytes);
  size_t UnreadSize() const; // arrived bytes no read has taken yet
  bool IsOpen() const;
  int OpenCount() const; // successful opens so far

  // What the component wrote to the port.
  serial::LineSettings LineSettingsRecord() const;
  void SetLineSettingsRecord(const serial::LineSettings &record); // what the next read-back returns
  int LineSettingsWrites() const;
  serial::CommTimeouts TimeoutsRecord() const;
  int TimeoutsWrites() const;
  uint32_t EventMask() const;
  std::vector<uint32_t> Purges() const;
  uint32_t InQueueSize() const;
  uint32_t OutQueueSize() const;

  // Line events: a pending line-event wait completes with this word (as it
  // stands, watched bits or not).
  void InjectEvent(uint32_t eventWord);
  // Adds line-error flags for ClearLineErrors and raises an EV_ERR event.
  void InjectLineError(uint32_t flags);

  // Failure injection.
  void SetOpenFails(bool fails);
  void SetCharacterDevice(bool isCharacterDevice);
  void SetQueueSetupFails(bool fails);
  void FailEventMask(serial::SerialResult result); // Ok switches it off
  void FailNextRead(serial::SerialResult result, Stage stage);
  void FailNextWrite(serial::SerialResult result, Stage stage);
  void FailNextEventWait(serial::SerialResult result, Stage stage);
  void FailClearLineErrors(serial::SerialResult result); // Ok switches it off
  void SetWriteChunk(size_t maxBytes);           // each write takes at most this many bytes; 0: all
  // While held, writes stay under way until released, purged or the port closes.
  void HoldWrites(bool hold);
  bool WriteIsPending() const;
  // The handle becomes invalid: pending operations complete, and later ones fail, as InvalidHandle.
  void InvalidateHandle();
  // The device goes away: pending reads and writes fail, a pending event wait
  // completes with an empty word, and later operations fail.
  void Unplug();

  struct State; // the layer's own view of the device

private:
  friend class MemorySerialLayer;
  friend class MemoryPort;
  std::shared_ptr<MemoryCore> core_;
  std::unique_ptr<State> state_;
};
