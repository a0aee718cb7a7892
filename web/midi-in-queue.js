// MIDI input waiting in the audio worklet for the frame of the sample clock it is due at, so
// that the program has each message at its own frame. Made once: adding and handing over
// allocate nothing, as process() must not.

// A keyboard sends a few hundred messages a second; this holds seconds of them.
const kQueueMessages = 4096;
const kMessageBytes = 3; // status, data1, data2

export class MidiInQueue {
  // hand(status, data1, data2): one message to the program; end(): a delivery's last one is in.
  constructor(hand, end) {
    this.hand = hand;
    this.end = end;
    this.frames = new Float64Array(kQueueMessages); // the program's frame each is due at
    this.bytes = new Uint8Array(kQueueMessages * kMessageBytes);
    this.ends = new Uint8Array(kQueueMessages); // 1 on the last message of a delivery
    this.head = 0;
    this.count = 0;
    this.lastFrame = 0; // deliveries keep their order: none is due before the one before it
  }

  // One delivery (status, data1, data2 triples), due at the program's frame `dueFrame`. One that
  // does not fit is handed over at once, after those queued.
  add(messages, dueFrame) {
    const count = messages.length / kMessageBytes;
    if (this.count + count > kQueueMessages) {
      this.handDue(Infinity);
      for (let at = 0; at < messages.length; at += kMessageBytes) {
        this.hand(messages[at], messages[at + 1], messages[at + 2]);
      }
      this.end();
      return;
    }
    this.lastFrame = Math.max(this.lastFrame, Math.ceil(dueFrame));
    for (let i = 0; i < count; i++) {
      const at = (this.head + this.count) % kQueueMessages;
      this.frames[at] = this.lastFrame;
      this.bytes.set(messages.subarray(kMessageBytes * i, kMessageBytes * (i + 1)),
        kMessageBytes * at);
      this.ends[at] = i === count - 1 ? 1 : 0;
      this.count++;
    }
  }

  // Hands the program every message due by the program's frame `frame`.
  handDue(frame) {
    while (this.count > 0 && this.frames[this.head] <= frame) {
      const at = kMessageBytes * this.head;
      this.hand(this.bytes[at], this.bytes[at + 1], this.bytes[at + 2]);
      if (this.ends[this.head] === 1) this.end();
      this.head = (this.head + 1) % kQueueMessages;
      this.count--;
    }
  }

  // The frame the next message is due at; Infinity when none waits.
  nextDueFrame() {
    return this.count > 0 ? this.frames[this.head] : Infinity;
  }
}
