using System;

namespace Kesto.VideoClient
{
    /// <summary>A message of the library.</summary>
    public sealed class MessageEventArgs : EventArgs
    {
        /// <summary>Makes the event data.</summary>
        public MessageEventArgs(int code, string? text, DateTimeOffset time)
        {
            Code = code;
            Text = text;
            Time = time;
        }

        /// <summary>A <see cref="MessageCode"/>, or the decoder library's own log level.</summary>
        public int Code { get; }

        /// <summary>The message's text, exactly as the library sent it.</summary>
        public string? Text { get; }

        /// <summary>When the library sent it (system clock, millisecond resolution).</summary>
        public DateTimeOffset Time { get; }
    }

    /// <summary>An azimuth read from the stream.</summary>
    public sealed class AzimuthEventArgs : EventArgs
    {
        /// <summary>Makes the event data.</summary>
        public AzimuthEventArgs(double azimuth) => Azimuth = azimuth;

        /// <summary>Radians, exactly as the stream carries it (NaN passes through).</summary>
        public double Azimuth { get; }
    }

    /// <summary>An exception thrown by one of the host's event handlers.</summary>
    public sealed class HandlerFailedEventArgs : EventArgs
    {
        /// <summary>Makes the event data.</summary>
        public HandlerFailedEventArgs(string eventName, Exception exception)
        {
            EventName = eventName;
            Exception = exception;
        }

        /// <summary>The event whose handler threw, e.g. "FrameReady".</summary>
        public string EventName { get; }

        /// <summary>What the handler threw.</summary>
        public Exception Exception { get; }
    }
}
