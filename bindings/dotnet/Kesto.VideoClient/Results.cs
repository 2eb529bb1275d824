namespace Kesto.VideoClient
{
    /// <summary>The result codes (HRESULT values) the library's functions return.</summary>
    public static class KestoResult
    {
        /// <summary>Success.</summary>
        public const int Ok = 0;

        /// <summary>An argument was refused (for example a URI without "://").</summary>
        public const int InvalidArgument = unchecked((int)0x80070057);

        /// <summary>The call failed; the library has sent a message that says why.</summary>
        public const int Fail = unchecked((int)0x80004005);
    }

    /// <summary>The first argument of a message: what kind of message it is.</summary>
    public enum MessageCode
    {
        /// <summary>A failure of a stream source, the display or a library function.</summary>
        Error = 1,

        /// <summary>A change of the stream's state, such as "Stream started".</summary>
        Status = 2,

        /// <summary>Diagnostics: decoder start-up, azimuth traces, recorder file errors.</summary>
        Info = 3,

        /// <summary>An exception caught when a stream started or in the stream's worker.</summary>
        Exception = 4,

        /// <summary>A new frame is in the display's texture (raised as <see cref="VideoClient.FrameReady"/>).</summary>
        FrameReady = 6,
    }
}
