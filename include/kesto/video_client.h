/*
 * Kesto video client: the C interface of the live-camera client library.
 *
 * The library receives the instrument's H.264 video over TCP (or plays back one of its own
 * recordings), decodes it through the separately loaded decoder library, reads the instrument's
 * azimuth from the stream and reports everything to the host through two callbacks.
 *
 * Conventions for every function below
 * - All functions are plain C functions under undecorated names. Strings are narrow, 8-bit,
 *   NUL-terminated (the ANSI code page on Windows). Paths that the ANSI code page cannot
 *   spell go through the UTF-8 companions of the three path-taking functions (see
 *   StartServerStreamUtf8).
 * - No exception or other failure crosses this interface: failures come back as result codes
 *   and/or as messages through the message callback.
 * - Result codes are 32-bit HRESULT values: KESTO_S_OK, KESTO_E_INVALIDARG, KESTO_E_FAIL.
 * - There is one stream per process. The stream functions (StartServerStream,
 *   StopServerStream, SetCurrentAzimuth, DestroyClient) must be called from one host thread at
 *   a time; the library does not lock them against each other.
 *
 * Callbacks
 * - The message callback and the azimuth callback are called on the stream's worker thread as
 *   well as on the thread of the function that reports. Marshal them to your own thread.
 * - A callback must not call StartServerStream, StopServerStream or DestroyClient: the worker
 *   thread that runs it cannot wait for itself to end. Such a call neither hangs nor crashes:
 *   StopServerStream fails with KESTO_E_FAIL and an "Error stopping stream: " message,
 *   StartServerStream with KESTO_E_FAIL and an Exception "Error starting stream: ...", and
 *   DestroyClient, which reports nothing, returns having done nothing but what the other two
 *   also do: ask the worker to stop. The stream then ends after its current chunk and stays
 *   in place, idle, with its statistics, until the host stops or replaces it from its own
 *   thread.
 * - The text passed to the message callback is valid only during the call.
 *
 * The decoder library
 * - The first stream loads the decoder library and keeps it for the life of the process.
 *   Windows: "Corvexa.Kesto.VideoDecoderFF.dll" by full path from the folder this library was
 *   loaded from; when it is not there, from the folder of the host's executable or System32
 *   only, never from the working directory or a PATH folder. The decoder's own imports are
 *   resolved from its folder, the executable's folder, System32 and the folders the host
 *   added with AddDllDirectory or SetDllDirectory (a decoder built on a vendor's toolkit
 *   needs the toolkit's folder: add it before the first stream), never from the working
 *   directory or PATH. The registry value
 *   HKEY_CURRENT_USER\Software\Corvexa\Kesto\MalvoVideoDecoderLib (REG_SZ, at most 129
 *   characters) names another file instead and is used as given. Linux:
 *   "libCorvexa.Kesto.VideoDecoderFF.so" from this library's folder; the environment
 *   variable KESTO_DECODER_LIB (at most 260 bytes) names another file.
 * - When it cannot be loaded, the stream's worker reports an Exception
 *   "Unable to load <the path or name tried>: <the system's text>", and the next stream tries
 *   again.
 */
#ifndef KESTO_VIDEO_CLIENT_H
#define KESTO_VIDEO_CLIENT_H

#include <stdint.h>

#include <kesto/video_client_version.h> /* KESTO_VERSION_STRING and its parts */

#if defined(_WIN32)
#define KESTO_CALL __cdecl
#if defined(KESTO_BUILDING_LIBRARY)
#define KESTO_API __declspec(dllexport)
#else
#define KESTO_API __declspec(dllimport)
#endif
#else
#define KESTO_CALL
#define KESTO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes (HRESULT values). */
#define KESTO_S_OK ((int32_t)0)
#define KESTO_E_INVALIDARG ((int32_t)0x80070057u)
#define KESTO_E_FAIL ((int32_t)0x80004005u)

/* Message codes: the first argument of the message callback. Codes 0 and 5 are not used; the
 * decoder library's own log lines arrive with the level that library gives them. */
enum KestoMessageCode {
    KESTO_MESSAGE_ERROR = 1,      /* a failure of a stream source, the display or an export */
    KESTO_MESSAGE_STATUS = 2,     /* "Stream started", "Tcp video stream connection closed" */
    KESTO_MESSAGE_INFO = 3,       /* diagnostics: decoder start-up, azimuth traces, ... */
    KESTO_MESSAGE_EXCEPTION = 4,  /* an exception caught in StartServerStream or a worker */
    KESTO_MESSAGE_FRAME_READY = 6 /* a new frame is in the display texture; text is NULL; sent
                                     with the display lock held (see KestoMessageCallback) */
};

/* Message callback: code (KestoMessageCode or a decoder log level), the text (NULL for
 * KESTO_MESSAGE_FRAME_READY; valid only during the call) and the time of the message in
 * milliseconds since 1970-01-01 00:00 UTC from the system clock. KESTO_MESSAGE_FRAME_READY is
 * sent with the library's display lock held: return without waiting for anything, above all
 * not for the host's UI thread (a synchronous Dispatcher.Invoke, SendMessage), which may at
 * that moment be waiting for the display lock in Render or GetBackBufferNoRef. Post instead. */
typedef void(KESTO_CALL* KestoMessageCallback)(int32_t code, const char* text, int64_t timeMs);

/* Azimuth callback: the instrument's azimuth in radians, exactly as the stream carries it
 * (a NaN in the stream is passed on as NaN). */
typedef void(KESTO_CALL* KestoAzimuthCallback)(double azimuth);

/*
 * Registers the message callback (NULL switches messages off), replacing any earlier one.
 * Any thread. A worker that read the old pointer just before may still call it once more.
 * Returns KESTO_S_OK always.
 */
KESTO_API int32_t KESTO_CALL SetCallbackFunc(KestoMessageCallback callback);

/*
 * Registers the azimuth callback (NULL drops azimuth notices). Any thread.
 * Returns KESTO_S_OK always.
 */
KESTO_API int32_t KESTO_CALL SetAzCallbackFunc(KestoAzimuthCallback callback);

/*
 * Starts the one stream of this process, stopping and destroying the running one first.
 *
 * uri: "tcp://host[:port]" (port 8010 when absent) receives the instrument's stream over TCP;
 * the addresses of a host name are tried in the order the system gives them. On Windows
 * "localhost" gives ::1 before 127.0.0.1, so a server listening on IPv4 only costs a refused
 * attempt first (about 2 seconds: Windows retries a refused connection); name the address
 * ("tcp://127.0.0.1:8010", "tcp://192.168.1.20") when you know it.
 * "file://path" plays a recording (the raw stream file, with its "_pkt_sizes.bin" sidecar
 * beside it) in an endless loop. The scheme may be in any letter case.
 * streamName: the key of this stream's statistics (GetStreamStat).
 *
 * Returns KESTO_S_OK once the stream's worker thread runs, after reporting Status
 * "Stream started". Connection, decoder and playback failures after that point arrive as
 * messages from the worker; the stream then stays in place, idle, until stopped or replaced.
 * Returns KESTO_E_INVALIDARG, without any message and leaving a running stream alone, when
 * the URI is shorter than 3 characters or has no "://".
 * Returns KESTO_E_FAIL with an Exception message "Error starting stream: <reason>" when an
 * argument is NULL ("uri cannot be null", "streamName cannot be null"), the scheme is
 * unknown ("Unknown stream prefix type"; the running stream has been ended all the same),
 * the TCP host does not resolve ("Could not resolve host name in uri <numbers>"), the file
 * does not exist ("invalid filename specified in uri"), or the worker cannot be started.
 *
 * Thread: the host's stream thread (see above); never from inside a callback.
 */
KESTO_API int32_t KESTO_CALL StartServerStream(const char* streamName, const char* uri);

/*
 * Stops the running stream, waits for its worker thread and destroys it. The name is only
 * tested for NULL: any non-NULL name stops the current stream. A stream stalled in a
 * receive or a connection attempt is interrupted; playback stops after its current frame.
 *
 * Returns KESTO_S_OK (also when no stream runs); KESTO_E_INVALIDARG for a NULL name (the
 * stream keeps running); KESTO_E_FAIL with an Error message "Error stopping stream: <reason>"
 * when the worker cannot be joined (called from a callback); the stream then stays in place.
 *
 * Thread: the host's stream thread; never from inside a callback.
 */
KESTO_API int32_t KESTO_CALL StopServerStream(const char* streamName);

/*
 * Passes an azimuth to the running stream. The stream sources accept and ignore it: the
 * azimuth on display is the one the instrument sends in the stream. Does nothing without a
 * stream. Thread: the host's stream thread.
 */
KESTO_API void KESTO_CALL SetCurrentAzimuth(double azimuth);

/*
 * Stops and destroys the running stream (waiting for its worker) and discards every stream's
 * statistics. Callbacks and display state are kept. Harmless when called twice; a stream
 * may be started again afterwards. Every other function may still be called after it: the
 * stream functions then find no stream (StopServerStream returns KESTO_S_OK, segment
 * requests are dropped, statistics read 0.0). Call it before unloading the library. A
 * library unloaded with its stream still running (FreeLibrary, dlclose) ends the stream
 * itself and returns within a second; no callback comes after the unload has returned.
 * Reports nothing. Thread: the host's stream thread; never from inside a callback (see
 * Callbacks above).
 */
KESTO_API void KESTO_CALL DestroyClient(void);

/*
 * Sets the rotation offset (radians) added to the stream's azimuth when the picture is drawn.
 * Stored only when it differs from the stored value by more than DBL_EPSILON (a NaN is never
 * stored); the renderers take it with the next frame. Any thread. On an internal failure
 * reports Error "Error setting rotation offset: <reason>".
 */
KESTO_API void KESTO_CALL SetRotationOffset(double offset);

/*
 * Sets the zoom factor, clamped to 1.0 ... 10.0 (NaN gives 1.0, +inf 10.0), stored only
 * when it differs by more than DBL_EPSILON; the renderers take it with the next frame.
 * Any thread. On an internal failure reports Error "Error setting zoom factor: <reason>".
 */
KESTO_API void KESTO_CALL SetCurrentZoomFactor(double zoomFactor);

/*
 * Asks for a snapshot of the picture on display, written on the stream's worker thread when
 * the next frame arrives (before that frame replaces the picture): PNG when the path ends in
 * ".png", BMP when it ends in ".bmp" (any letter case). A second request before the next
 * frame replaces the path. Returns at once and does not learn the outcome; a failure to write
 * arrives as an Error message. A NULL path is ignored. Any thread.
 */
KESTO_API void KESTO_CALL SaveVideoFrameRawToDisk(const char* path);

/*
 * Asks the running stream to record a raw segment: from the next packet that begins with
 * 00 00 00 01 and a sequence parameter set, every packet exactly as received is written to
 * `fileName`, and its length to the sidecar (the name less its last four characters, plus
 * "_pkt_sizes.bin"; one 4-byte little-endian length per packet), until the first packet
 * written after `durationMs` milliseconds (a negative duration records one packet) or past
 * 128 MiB. The pair plays back with StartServerStream("name", "file://<fileName>").
 * Existing files are replaced. A request during a segment only changes its duration (0 ends
 * it with the next packet). Does nothing without a stream or with a NULL name; a file that
 * cannot be created drops the request silently. Recording errors arrive as Info messages
 * ("Unable to open log file ...", "Unable to write to log file because: ..."). A write the
 * disk refuses (a full disk, a lost drive) is not detected: the segment runs on to its end
 * and its files may then be incomplete.
 * Thread: the host's stream thread (it reads the current stream without a lock).
 */
KESTO_API void KESTO_CALL SaveVideoSegmentRawToDisk(const char* fileName, int32_t durationMs);

/*
 * UTF-8 companions of the three functions that take a path: the same behaviour, results and
 * messages, but the path (the file URI's path, the snapshot path, the segment file name) is
 * UTF-8 instead of the ANSI code page, so that paths outside that code page (a folder named in
 * Cyrillic or Japanese on a Western system) can be played from, recorded into and written to.
 * On Windows the files are opened with the wide-character calls, and a path that is not valid
 * UTF-8 names no file (the start fails with "invalid filename specified in uri", a snapshot
 * reports its write error, a segment is dropped). Texts the library reports keep the path's
 * bytes as given. On Linux paths are bytes, and these behave exactly as the functions they
 * accompany. The .NET binding calls these.
 */
KESTO_API int32_t KESTO_CALL StartServerStreamUtf8(const char* streamName, const char* uri);
KESTO_API void KESTO_CALL SaveVideoFrameRawToDiskUtf8(const char* path);
KESTO_API void KESTO_CALL SaveVideoSegmentRawToDiskUtf8(const char* fileName, int32_t durationMs);

/*
 * Reads one statistic of one stream (by the name given to StartServerStream):
 *   "frames_received"  frames delivered under this name since the statistics were made
 *   "stream_width", "stream_height"  side of the latest frame in pixels
 *   "fps"  frames per second, "bps"  compressed bytes (not bits) per second, both over about
 *          the last second (at most the last 30 samples) including the time since the
 *          newest sample, so a stalled stream reads 0 after a second.
 * Statistics survive a restart of the stream under the same name; DestroyClient clears them.
 * An unknown stream name (which leaves an empty record for that name), an unknown statistic
 * or a NULL argument gives 0.0. Any thread, at any time; reports nothing.
 */
KESTO_API double KESTO_CALL GetStreamStat(const char* streamName, const char* statName);

/*
 * Display
 *
 * The library draws the latest decoded frame with Direct3D 9 into a render-target surface
 * that the host composes, typically through a WPF D3DImage:
 *
 *   SetSize / SetAlpha / SetNumDesiredSamples      (optional; before or between surfaces)
 *   GetBackBufferNoRef(&surface)                    -> D3DImage.SetBackBuffer(surface)
 *   on each KESTO_MESSAGE_FRAME_READY (marshalled to the UI thread) or on your own timer:
 *     D3DImage.Lock(); Render(); D3DImage.AddDirtyRect(...); D3DImage.Unlock();
 *   DestroyD3D()                                    when the display goes away
 *
 * The library makes one Direct3D device per display adapter, each with its own surface; the
 * "active" adapter (adapter 0 at first, see SetAdapter) is the one whose surface is handed
 * out, which draws, and which receives the frames. The picture is the frame transposed
 * (frame rows run left to right), turned by the stream's azimuth less the rotation offset,
 * magnified by the zoom factor, and always fills the whole surface.
 *
 * Surfaces and device loss
 * - A surface is had only from GetBackBufferNoRef, and only GetBackBufferNoRef applies new
 *   surface settings and recovers from a lost device. Call it again after any setter, after
 *   SetAdapter, and whenever the D3DImage reports that its front buffer became available
 *   again (IsFrontBufferAvailableChanged to true): the surface it returns may be a different
 *   one, and the old one must not be used any more.
 * - Recovery from a lost or removed device is a full rebuild: the next GetBackBufferNoRef
 *   (or SetAdapter) notices the loss, releases every Direct3D object, and GetBackBufferNoRef
 *   makes everything anew in the same call. The rebuilt display starts with adapter 0
 *   active, rotation offset 0 and zoom 1: call SetAdapter again, and set the rotation offset
 *   and zoom factor again with values that differ from the last ones set (an unchanged value
 *   is ignored).
 * - D3DERR_DEVICELOST is never returned: it is reported as KESTO_S_OK (GetBackBufferNoRef
 *   then gives a NULL surface; ask again later). Other Direct3D failure codes pass through.
 *
 * Threads
 * - The display functions may be called from any host thread, and are serialised by the
 *   library's display lock, which is also held while a frame is uploaded on the stream's
 *   worker thread. Call GetBackBufferNoRef and DestroyD3D from the same thread (the UI
 *   thread): the hidden window the devices need belongs to the thread that made it.
 * - The message callback is called with the display lock held after each upload
 *   (KESTO_MESSAGE_FRAME_READY) and on a failed snapshot. A callback must therefore not call
 *   any display function, SetRotationOffset, SetCurrentZoomFactor or SaveVideoFrameRawToDisk
 *   synchronously, nor wait for a thread that may be calling one (the host's UI thread, with
 *   Dispatcher.Invoke or SendMessage): either would wait for the lock for ever. Post the work
 *   to your own thread instead (Dispatcher.BeginInvoke, PostMessage).
 */

/* Direct3D 9's surface interface, as declared by <d3d9.h>; the header does not need it. */
struct IDirect3DSurface9;
#ifndef __cplusplus
typedef struct IDirect3DSurface9 IDirect3DSurface9;
#endif

/* A point in virtual-screen coordinates; passed by value it has the layout of the Win32
 * POINT (x in the low 32 bits, y in the high 32 bits). */
typedef struct KestoPoint {
    int32_t x;
    int32_t y;
} KestoPoint;

/*
 * Sets the size of the render-target surfaces in pixels (1024 x 1024 until set). Only
 * stored: the next GetBackBufferNoRef makes surfaces of the new size, and only when the size
 * differs from the current one. The picture's aspect ratio is always 1: a surface that is not
 * square shows it stretched. Any host thread. Returns KESTO_S_OK (KESTO_E_FAIL with an Error
 * message "Error setting surface size: <reason>" on an internal failure).
 */
KESTO_API int32_t KESTO_CALL SetSize(uint32_t width, uint32_t height);

/*
 * Chooses render targets with an alpha channel (any non-zero value: A8R8G8B8) or without
 * (0: X8R8G8B8, the initial choice). Only stored: the next GetBackBufferNoRef remakes the
 * surfaces when the choice changed. Any host thread. Returns KESTO_S_OK (KESTO_E_FAIL with
 * an Error message "Error setting alpha: <reason>" on an internal failure).
 */
KESTO_API int32_t KESTO_CALL SetAlpha(int32_t alpha);

/*
 * Sets the multisample count of the render targets (0, the initial value, and 1 mean none).
 * Only stored: the next GetBackBufferNoRef remakes the surfaces when the count changed. A
 * count that an adapter does not support, or any count where the system offers no
 * Direct3D9Ex, silently becomes 0 and stays 0 until a new count is set. Any host thread.
 * Returns KESTO_S_OK (KESTO_E_FAIL with an Error message "Error setting sample count:
 * <reason>" on an internal failure).
 */
KESTO_API int32_t KESTO_CALL SetNumDesiredSamples(uint32_t samples);

/*
 * Makes the adapter whose monitor holds `point` (virtual-screen coordinates, e.g. the centre
 * of the host's window) the active one: its surface is handed out by the next
 * GetBackBufferNoRef, it draws, and it receives the frames. A point on no monitor, or a call
 * before the first GetBackBufferNoRef, keeps the active adapter. Surfaces are not remade;
 * call GetBackBufferNoRef afterwards to get the active adapter's surface. Also notices a lost
 * device (see above). Any host thread. Returns KESTO_S_OK (KESTO_E_FAIL with an Error message
 * "Error setting adapter: <reason>" on an internal failure).
 */
KESTO_API int32_t KESTO_CALL SetAdapter(KestoPoint point);

/*
 * Stores the active adapter's render-target surface in *surface, first creating whatever is
 * missing: the Direct3D object (Direct3D9Ex where available), one device per adapter, the
 * hidden focus window, and surfaces with the current settings. Recovers from a lost device
 * in the same call. The surface is handed out without an added reference: the library keeps
 * it alive until the next surface change, rebuild or DestroyD3D; a D3DImage takes its own
 * reference. A second call without changes returns the same surface.
 *
 * Returns KESTO_S_OK with the surface (NULL when there is no display adapter, or while the
 * device stays lost); a Direct3D failure code with *surface NULL (e.g. D3DERR_NOTAVAILABLE
 * without a display); KESTO_E_FAIL when an adapter does not support the surface format or
 * usage, when Direct3D cannot be created, when the hidden window's class cannot be
 * registered, or when a device only takes power-of-two textures; KESTO_E_INVALIDARG for a
 * NULL `surface`. After a failure the host may simply ask again later.
 * Thread: the host's UI thread (see above); never from inside a callback.
 */
KESTO_API int32_t KESTO_CALL GetBackBufferNoRef(struct IDirect3DSurface9** surface);

/*
 * Draws the latest frame into the active adapter's surface (the one last handed out by
 * GetBackBufferNoRef); never presents. Returns KESTO_S_OK, also before any surface exists
 * (nothing is drawn) and when the device is lost; otherwise the failing Direct3D call's code.
 * Thread: the host's UI thread, inside D3DImage.Lock/Unlock; never from inside a callback.
 */
KESTO_API int32_t KESTO_CALL Render(void);

/*
 * Ends the display: releases every Direct3D object, the surfaces (a D3DImage still holding
 * one keeps only its own reference) and the hidden window. Waits for a frame being uploaded
 * at that moment. Harmless when called twice. Afterwards every setting starts again from its
 * initial value: the next display function (or the next decoded frame) makes a new display
 * state, and GetBackBufferNoRef makes new surfaces. Detach the surface from the D3DImage
 * before calling it. Thread: the thread that called GetBackBufferNoRef; never from inside
 * a callback.
 */
KESTO_API void KESTO_CALL DestroyD3D(void);

/*
 * FFT
 *
 * A forward real FFT in double precision (KISS FFT inside), independent of the stream: these
 * functions share no state with the rest of the library.
 *
 * A configuration belongs to one transform length. Use it from one thread at a time;
 * different configurations may be used from different threads at once. Transforms of 524288
 * points or more run in parallel on an OpenMP team; shorter ones run on the calling thread
 * alone, where they are faster and leave no worker threads spinning after the call. The team:
 * - Linux: the calling thread's team in the process's one OpenMP runtime, which the library
 *   shares with the host: OMP_NUM_THREADS at start, or the host's omp_set_num_threads on that
 *   thread. The thread's setting is the same after the call as before.
 * - Windows: the OpenMP runtime is linked into this DLL, so the host's omp_set_num_threads
 *   (in its own runtime, or in none) does not reach it. The variable OMP_NUM_THREADS as the
 *   process environment holds it at the call decides (a .NET host may set it with
 *   Environment.SetEnvironmentVariable at any time); unset, one thread per processor.
 */
typedef struct KestoFftrState* KestoFftrConfig;

/*
 * Creates the configuration of a forward real FFT of nfft points. Returns NULL when nfft is
 * odd, zero or negative, larger than 1431655764, or when memory runs out.
 * Release it with FreeFFTR.
 */
KESTO_API KestoFftrConfig KESTO_CALL AllocFFTR(int32_t nfft);

/*
 * Transforms nfft real samples (timedata) into nfft/2 + 1 complex values (freqdata: nfft + 2
 * doubles, each value's real part followed by its imaginary part):
 *     freq[k] = sum over n of timedata[n] * exp(-2*pi*i*k*n / nfft),  k = 0 .. nfft/2,
 * without any scaling. The imaginary parts of freq[0] and freq[nfft/2] are exactly 0.
 * timedata and freqdata may be the same array of nfft + 2 doubles (the result replaces the
 * samples). Does nothing when an argument is NULL.
 */
KESTO_API void KESTO_CALL FFTR(KestoFftrConfig cfg, const double* timedata, double* freqdata);

/* Releases a configuration made by AllocFFTR. NULL is allowed and does nothing. */
KESTO_API void KESTO_CALL FreeFFTR(KestoFftrConfig cfg);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* KESTO_VIDEO_CLIENT_H */
