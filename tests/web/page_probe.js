// What the page's tests watch, injected through the DevTools protocol before
// the page's own script runs (webshow.open_page), so that the page itself
// keeps nothing for them. window.vizProbe holds:
//   frames        [animation-frame time, music clock after the frame, when
//                 the frame's callbacks began to run] of each animation frame
//                 the program drew in
//   startedAt     performance.now() of the first click or key press
//   firstFrameAt  performance.now() when the program's first frame was drawn
//   contexts      every audio context the page made, oldest first
//   chunks        [context time it was scheduled for, its first
//                 PROBE_SAMPLES samples of the left channel] of each chunk of
//                 sound the page's script processor handed over
//   chunkSeconds  the length of a chunk, once one was handed over
(() => {
  const PROBE_SAMPLES = 64;
  const probe = {frames: [], startedAt: null, firstFrameAt: null, contexts: [], chunks: [],
                 chunkSeconds: null};
  window.vizProbe = probe;

  const musicTime = () => (window.Module && Module._vizMusicTime ? Module._vizMusicTime() : 0);
  const request = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => request((time) => {
    const began = performance.now();
    callback(time);
    const last = probe.frames[probe.frames.length - 1];
    if (last && last[0] === time)
      return;
    probe.frames.push([time, musicTime(), began]);
    if (probe.firstFrameAt === null)
      probe.firstFrameAt = performance.now();
  });

  for (const kind of ['click', 'keydown']) {
    window.addEventListener(kind, () => {
      if (probe.startedAt === null)
        probe.startedAt = performance.now();
    }, true);
  }

  const Context = window.AudioContext;
  window.AudioContext = class extends Context {
    constructor(...args) {
      super(...args);
      probe.contexts.push(this);
    }
  };
  const handlerSlot = Object.getOwnPropertyDescriptor(ScriptProcessorNode.prototype,
                                                      'onaudioprocess');
  const record = (event) => {
    const output = event.outputBuffer;
    probe.chunkSeconds = output.length / output.sampleRate;
    probe.chunks.push([event.playbackTime,
                       Array.from(output.getChannelData(0).subarray(0, PROBE_SAMPLES))]);
  };
  const createScriptProcessor = Context.prototype.createScriptProcessor;
  Context.prototype.createScriptProcessor = function (...args) {
    const processor = createScriptProcessor.apply(this, args);
    let handler = null;
    Object.defineProperty(processor, 'onaudioprocess', {
      get: () => handler,
      set: (pageHandler) => {
        handler = pageHandler;
        handlerSlot.set.call(processor, pageHandler && ((event) => {
          pageHandler(event);
          record(event);
        }));
      },
    });
    return processor;
  };
})();
