// QUIBLINK for C#, VB.NET and the other .NET languages: one file to add to a project.
//
//   Quiblink.Native   every export of the library under its own name, one declaration each,
//                     in the order of the library's module definition;
//   Quiblink.Library  the version, result texts, port devices, message boxes, the trace event;
//   GraphicTerminal   a channel to a graphic terminal (XQUIB_ calls), IDisposable;
//   ClassicPanel      a channel to a classic panel (QUIB_Read, QUIB_Write), IDisposable;
//   QuiblinkException a failed call: result code, its name and text, the terminal status, and
//                     for an open the system's reason.
//
// Which DLL: a 64-bit process (x64, or "Any CPU" on 64-bit Windows) loads quiblink64.dll, whose
// exports have plain names; that is the default here, and what mono uses on 64-bit Linux
// through a dllmap to libquiblink.so. A 32-bit process (x86, "Prefer 32-bit") loads
// quiblink.dll, whose exports have decorated stdcall names (_QUIB_Open@8): compile with the
// symbol QUIBLINK_X86 (<DefineConstants>QUIBLINK_X86</DefineConstants>, csc -define:QUIBLINK_X86).
// That one #if below picks the DLL and every entry point; a process of the other width gets a
// InvalidOperationException naming the symbol at its first open.
//
// Calls block the calling thread until the terminal has answered (up to 10 s per exchange, and
// a block transfer runs for as long as its blocks take): call them from a worker thread, not
// from a UI thread. Any thread may use any channel; calls on one port run one at a time.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Quiblink
{
    /// <summary>
    /// The exports as the library declares them. Strings come back as IntPtr (the library's
    /// texts are static: read them with Marshal.PtrToStringAnsi, never free them); output
    /// buffers are [Out] byte[]; a terminal status is an out ushort.
    /// </summary>
    public static class Native
    {
#if QUIBLINK_X86
        public const string Dll = "quiblink.dll";
        public const bool Decorated = true;
        // Decorated stdcall names: "_" + name + "@" + bytes of arguments (4 per argument).
        const string Pre = "_";
        const string At0 = "@0", At4 = "@4", At8 = "@8", At12 = "@12", At16 = "@16", At20 = "@20",
                     At24 = "@24", At28 = "@28", At32 = "@32", At44 = "@44";
#else
        public const string Dll = "quiblink64.dll";
        public const bool Decorated = false;
        const string Pre = "";
        const string At0 = "", At4 = "", At8 = "", At12 = "", At16 = "", At20 = "", At24 = "",
                     At28 = "", At32 = "", At44 = "";
#endif
        // stdcall on 32-bit Windows; x64 and 64-bit Linux have one convention and ignore it.
        const CallingConvention Call = CallingConvention.StdCall;

        /// <summary>
        /// Receives one trace text. The delegate must stay referenced (in a static field, say)
        /// for as long as it is installed: the library calls it from any thread, also from a
        /// port's worker thread, until QUIB_SetTraceHandler(null, ...) or the library's unload.
        /// </summary>
        [UnmanagedFunctionPointer(CallingConvention.StdCall)]
        public delegate void QUIB_TraceHandler(IntPtr text, IntPtr user);

        /// <summary>
        /// Progress of a sized transfer, called on the calling thread after each block. The
        /// delegate must stay referenced until the transfer call returns (GC.KeepAlive after
        /// the call); the library keeps no reference to it afterwards.
        /// </summary>
        [UnmanagedFunctionPointer(CallingConvention.StdCall)]
        public delegate void QUIB_Progress(uint done, uint total, IntPtr user);

        /// <summary>One group in the data of XQUIB_ReadAllGroups: three unsigned 32-bit fields,
        /// 12 bytes, as the C struct.</summary>
        [StructLayout(LayoutKind.Sequential)]
        public struct QUIB_GroupEntry
        {
            public uint Group, Offset, Length;
        }

        // The exports, in the order of src/exports/quiblink.def (a test holds them to it).
        [DllImport(Dll, EntryPoint = Pre + "QUIB_Version" + At0, CallingConvention = Call)]
        public static extern short QUIB_Version();
        [DllImport(Dll, EntryPoint = Pre + "QUIB_Open" + At8, CallingConvention = Call)]
        public static extern short QUIB_Open(ushort port, ushort model);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Open" + At12, CallingConvention = Call)]
        public static extern short XQUIB_Open(ushort port, ushort baud, ushort model);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_Close" + At4, CallingConvention = Call)]
        public static extern short QUIB_Close(ushort handle);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_Read" + At20, CallingConvention = Call)]
        public static extern short QUIB_Read(ushort handle, ushort area, int address, [Out] byte[] buffer, ushort count);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_Write" + At20, CallingConvention = Call)]
        public static extern short QUIB_Write(ushort handle, ushort area, int address, ushort count, [In] byte[] data);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_ReadAll" + At16, CallingConvention = Call)]
        public static extern short XQUIB_ReadAll(ushort handle, [Out] byte[] data, out int total, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Read1G" + At20, CallingConvention = Call)]
        public static extern short XQUIB_Read1G(ushort handle, ushort group, [Out] byte[] data, out int total, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Read" + At20, CallingConvention = Call)]
        public static extern short XQUIB_Read(ushort handle, byte area, [Out] byte[] data, out int total, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Write" + At24, CallingConvention = Call)]
        public static extern short XQUIB_Write(ushort handle, byte area, ushort group, uint length, [In] byte[] data, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_OSInstl" + At24, CallingConvention = Call)]
        public static extern short XQUIB_OSInstl(ushort handle, byte subcommand, byte option, uint length, [In] byte[] data, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Start" + At4, CallingConvention = Call)]
        public static extern short XQUIB_Start(ushort handle);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Offline" + At8, CallingConvention = Call)]
        public static extern short XQUIB_Offline(ushort handle, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_SWReset" + At8, CallingConvention = Call)]
        public static extern short XQUIB_SWReset(ushort handle, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Reset" + At8, CallingConvention = Call)]
        public static extern short XQUIB_Reset(ushort handle, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Break" + At8, CallingConvention = Call)]
        public static extern short XQUIB_Break(ushort handle, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_GetMemData" + At20, CallingConvention = Call)]
        public static extern short XQUIB_GetMemData(ushort handle, out int value1, out int value2, out int value3, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_GetOsInfo" + At16, CallingConvention = Call)]
        public static extern short XQUIB_GetOsInfo(ushort handle, out uint first, out uint second, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_GetProjInfo" + At24, CallingConvention = Call)]
        public static extern short XQUIB_GetProjInfo(ushort handle, out uint value1, out uint value2, [Out] byte[] name, out ushort nameLength, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_DelUserData" + At8, CallingConvention = Call)]
        public static extern short XQUIB_DelUserData(ushort handle, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_CheckPassword" + At16, CallingConvention = Call)]
        public static extern short XQUIB_CheckPassword(ushort handle, [In] byte[] password, ushort length, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_GetKEWType" + At12, CallingConvention = Call)]
        public static extern short XQUIB_GetKEWType(ushort handle, out uint type, ref ushort status);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_BrateChange" + At12, CallingConvention = Call)]
        public static extern short XQUIB_BrateChange(ushort handle, ushort code, ref ushort status);
        // Extensions (quiblink_ext.h, quiblink_errors.h).
        [DllImport(Dll, EntryPoint = Pre + "QUIB_SetTraceHandler" + At8, CallingConvention = Call)]
        public static extern void QUIB_SetTraceHandler(QUIB_TraceHandler handler, IntPtr user);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_ReadAllEx" + At28, CallingConvention = Call)]
        public static extern short XQUIB_ReadAllEx(ushort handle, [Out] byte[] data, uint capacity, out int total, ref ushort status, QUIB_Progress progress, IntPtr user);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_Read1GEx" + At32, CallingConvention = Call)]
        public static extern short XQUIB_Read1GEx(ushort handle, ushort group, [Out] byte[] data, uint capacity, out int total, ref ushort status, QUIB_Progress progress, IntPtr user);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_ReadEx" + At32, CallingConvention = Call)]
        public static extern short XQUIB_ReadEx(ushort handle, byte area, [Out] byte[] data, uint capacity, out int total, ref ushort status, QUIB_Progress progress, IntPtr user);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_WriteEx" + At32, CallingConvention = Call)]
        public static extern short XQUIB_WriteEx(ushort handle, byte area, ushort group, uint length, [In] byte[] data, ref ushort status, QUIB_Progress progress, IntPtr user);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_OSInstlEx" + At32, CallingConvention = Call)]
        public static extern short XQUIB_OSInstlEx(ushort handle, byte subcommand, byte option, uint length, [In] byte[] data, ref ushort status, QUIB_Progress progress, IntPtr user);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_SetEngineStyle" + At4, CallingConvention = Call)]
        public static extern short QUIB_SetEngineStyle(int style);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_GetEngineStyle" + At0, CallingConvention = Call)]
        public static extern int QUIB_GetEngineStyle();
        [DllImport(Dll, EntryPoint = Pre + "QUIB_ResultText" + At4, CallingConvention = Call)]
        public static extern IntPtr QUIB_ResultText(short code);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_LastOpenError" + At8, CallingConvention = Call)]
        public static extern int QUIB_LastOpenError([Out] byte[] text, ushort size);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_SetMessageBoxes" + At4, CallingConvention = Call)]
        public static extern void QUIB_SetMessageBoxes(int enabled);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_SetPortDevice" + At8, CallingConvention = Call)]
        public static extern short QUIB_SetPortDevice(ushort port, [MarshalAs(UnmanagedType.LPStr)] string device);
        [DllImport(Dll, EntryPoint = Pre + "QUIB_CancelTransfer" + At4, CallingConvention = Call)]
        public static extern short QUIB_CancelTransfer(ushort handle);
        [DllImport(Dll, EntryPoint = Pre + "XQUIB_ReadAllGroups" + At44, CallingConvention = Call)]
        public static extern short XQUIB_ReadAllGroups(ushort handle, [Out] byte[] data, uint capacity, out int total, [Out] QUIB_GroupEntry[] groups, uint groupCapacity, out uint groupCount, ref ushort status, uint expected, QUIB_Progress progress, IntPtr user);
    }

    /// <summary>The result codes under their C names (quiblink_results.h; a test holds the
    /// values to the library's own table). The last few are a code's further meanings under
    /// names of their own, with that code's value; ToString of such a value may give either
    /// name, Library.ResultText gives the code's own.</summary>
    public enum Result : short
    {
        RC_OK = 0,
        RC_PORT_OPEN_FAILED = -1,
        RC_BAD_ARGUMENT = -2,
        RC_NOT_OPEN = -3,
        RC_CHANNEL_BUSY = -4,
        RC_TX_FAILED = -7,
        RC_NO_RESPONSE = -13,
        RC_CHECKSUM = -17,
        RC_INCOMPLETE = -18,
        RC_NAK = -19,
        RC_BAD_START = -20,
        RC_NO_ETX = -21,
        RC_BAD_LENGTH = -30,
        RC_BAD_ECHO = -31,
        RC_SEQUENCE = -32,
        RC_BAD_PORT = -33,
        RC_BAD_PROJECT_INFO = -34,
        RC_BAD_GROUP = -35,
        RC_TERMINAL_ERROR = -36,
        RC_BUFFER_TOO_SMALL = -40,
        RC_CANCELLED = -41,
        RC_GROUP_TABLE_FULL = -42,
        RC_CLOSE_NOT_OPEN = RC_PORT_OPEN_FAILED,
        RC_CLOSE_BUSY = RC_BAD_ARGUMENT,
        RC_NO_FREE_CHANNEL = RC_SEQUENCE,
        RC_NO_PORT_SEMAPHORE = RC_SEQUENCE,
        RC_BAD_OS_INFO = RC_BAD_PORT,
    }

    /// <summary>A call that did not return RC_OK.</summary>
    public class QuiblinkException : Exception
    {
        /// <summary>The export that failed, e.g. "XQUIB_ReadAllEx".</summary>
        public string Function { get; }
        /// <summary>The result code as the export returned it.</summary>
        public short Code { get; }
        /// <summary>The result code's name, e.g. "RC_NO_RESPONSE" (from QUIB_ResultText).</summary>
        public string Name { get; }
        /// <summary>What the code means, from the library's table.</summary>
        public string Text { get; }
        /// <summary>The terminal's status byte (graphic calls), when a reply carried one; 0 is
        /// "accepted", anything else is the terminal's reason for refusing.</summary>
        public ushort? TerminalStatus { get; }
        /// <summary>For a failed open: the device and the system's reason
        /// (QUIB_LastOpenError), e.g. "/dev/ttyUSB0: Permission denied (...)"; else null.</summary>
        public string OpenFailure { get; }
        /// <summary>For a failed open: the system's error number (errno, GetLastError), 0 when
        /// the reason was the library's own.</summary>
        public int OpenErrorNumber { get; }

        public Result Result { get { return (Result)Code; } }

        public QuiblinkException(string function, short code, ushort? terminalStatus = null,
                                 string openFailure = null, int openErrorNumber = 0)
            : base(Describe(function, code, terminalStatus, openFailure))
        {
            Function = function;
            Code = code;
            string text = Library.ResultText(code);
            int colon = text.IndexOf(": ", StringComparison.Ordinal);
            Name = colon > 0 ? text.Substring(0, colon) : text;
            Text = colon > 0 ? text.Substring(colon + 2) : text;
            TerminalStatus = terminalStatus;
            OpenFailure = openFailure;
            OpenErrorNumber = openErrorNumber;
        }

        static string Describe(string function, short code, ushort? status, string openFailure)
        {
            var message = new StringBuilder(function).Append(": ").Append(Library.ResultText(code));
            if (status.HasValue && status.Value != 0)
                message.Append(" (terminal status ").Append(status.Value).Append(')');
            if (openFailure != null)
                message.Append(" (").Append(openFailure).Append(')');
            return message.ToString();
        }
    }

    /// <summary>One trace text of the library.</summary>
    public sealed class TraceEventArgs : EventArgs
    {
        /// <summary>The text exactly as the library writes it, e.g. "READ command\n", or one
        /// piece of a frame dump.</summary>
        public string Text { get; }
        public TraceEventArgs(string text) { Text = text; }
    }

    /// <summary>What does not belong to one channel.</summary>
    public static class Library
    {
        /// <summary>QUIB_Version(): the library's version as one number, 211 for 2.1.1.</summary>
        public static int Version
        {
            get
            {
                CheckWidth();
                return Native.QUIB_Version();
            }
        }

        /// <summary>"NAME: meaning" of a result code; never null.</summary>
        public static string ResultText(short code)
        {
            return Marshal.PtrToStringAnsi(Native.QUIB_ResultText(code));
        }

        /// <summary>Why this thread's last failed open failed; errorNumber gets the system's
        /// error number (0 for a reason of the library's own).</summary>
        public static string LastOpenError(out int errorNumber)
        {
            var text = new byte[320];
            errorNumber = Native.QUIB_LastOpenError(text, (ushort)text.Length);
            int length = Array.IndexOf(text, (byte)0);
            return Encoding.UTF8.GetString(text, 0, length < 0 ? text.Length : length);
        }

        /// <summary>Maps a port index 0..9 to a device ("COM17", "/dev/ttyUSB0", or a device
        /// server: "rfc2217://host:port", "tcp://host:port") for this process, from the port's
        /// next open on; null restores the default.</summary>
        public static void SetPortDevice(int port, string device)
        {
            short rc = Native.QUIB_SetPortDevice(checked((ushort)port), device);
            if (rc != 0)
                throw new QuiblinkException("QUIB_SetPortDevice", rc);
        }

        /// <summary>Set false to send the library's few set-up message boxes to the trace.</summary>
        public static bool MessageBoxes
        {
            set { Native.QUIB_SetMessageBoxes(value ? 1 : 0); }
        }

        static readonly object traceLock = new object();
        static EventHandler<TraceEventArgs> traceHandlers;
        // Referenced for the life of the process, so the library's pointer to it stays valid.
        static readonly Native.QUIB_TraceHandler traceCallback = OnTrace;

        /// <summary>
        /// The library's trace texts. Raised on the thread that writes the text: the caller's,
        /// or a port's worker thread, so a handler must be quick and thread-safe (a UI must
        /// marshal to its own thread). Exceptions a handler throws are dropped. While anyone
        /// is subscribed the texts go here instead of the debugger output (or standard error).
        /// </summary>
        public static event EventHandler<TraceEventArgs> Trace
        {
            add
            {
                lock (traceLock)
                {
                    bool first = traceHandlers == null;
                    traceHandlers += value;
                    if (first && traceHandlers != null)
                        Native.QUIB_SetTraceHandler(traceCallback, IntPtr.Zero);
                }
            }
            remove
            {
                lock (traceLock)
                {
                    traceHandlers -= value;
                    if (traceHandlers == null)
                        Native.QUIB_SetTraceHandler(null, IntPtr.Zero);
                }
            }
        }

        static void OnTrace(IntPtr text, IntPtr user)
        {
            EventHandler<TraceEventArgs> handlers = traceHandlers;
            if (handlers == null)
                return;
            try
            {
                handlers(null, new TraceEventArgs(Marshal.PtrToStringAnsi(text)));
            }
            catch (Exception)
            {
                // An exception must not unwind into the library's frames.
            }
        }

        // On Windows a process of the other width than this file was compiled for would
        // fail with a missing DLL or entry point; say plainly what to change instead.
        internal static void CheckWidth()
        {
            if (Environment.OSVersion.Platform != PlatformID.Win32NT || (IntPtr.Size == 4) == Native.Decorated)
                return;
            throw new InvalidOperationException(IntPtr.Size == 4
                ? "a 32-bit process loads quiblink.dll: compile Quiblink.cs with the symbol QUIBLINK_X86"
                : "a 64-bit process loads quiblink64.dll: compile Quiblink.cs without the symbol QUIBLINK_X86");
        }
    }

    /// <summary>A channel handle of either family; Dispose (or Close) closes it, and the
    /// port closes with its last channel.</summary>
    public abstract class Channel : IDisposable
    {
        short handle;

        protected Channel(string function, Func<short> open)
        {
            Library.CheckWidth();
            short result = open();
            if (result < 0)
            {
                int errorNumber;
                string reason = Library.LastOpenError(out errorNumber);
                throw new QuiblinkException(function, result, null, reason, errorNumber);
            }
            handle = result;
        }

        /// <summary>The channel handle, 0..31, for calls of Quiblink.Native.</summary>
        public ushort Handle
        {
            get
            {
                if (handle < 0)
                    throw new ObjectDisposedException(GetType().Name);
                return (ushort)handle;
            }
        }

        /// <summary>Closes the channel; waits until the requests queued before it on the port
        /// have been served. Throws while a call of this channel runs on another thread (the
        /// channel then stays open). A second Close does nothing.</summary>
        public void Close()
        {
            if (handle < 0)
                return;
            short rc = Native.QUIB_Close((ushort)handle);
            if (rc != 0)
                throw new QuiblinkException("QUIB_Close", rc);
            handle = -1;
        }

        public void Dispose()
        {
            Close();
        }

        /// <summary>Stops this channel's block transfer before its next exchange
        /// (QUIB_CancelTransfer): from any thread, or from the transfer's progress callback. The
        /// transfer's call then throws QuiblinkException with RC_CANCELLED. With no transfer
        /// under way it changes nothing, and is not kept for the next transfer.</summary>
        public void Cancel()
        {
            short h = handle;
            if (h >= 0)
                Check("QUIB_CancelTransfer", Native.QUIB_CancelTransfer((ushort)h));
        }

        internal static void Check(string function, short rc, ushort? status = null)
        {
            if (rc != 0)
                throw new QuiblinkException(function, rc, status);
        }
    }

    /// <summary>The terminal's memory figures (XQUIB_GetMemData).</summary>
    public sealed class MemoryData
    {
        public int Value1, Value2, Value3;
    }

    /// <summary>The terminal's operating-system image sizes (XQUIB_GetOsInfo).</summary>
    public sealed class OsInfo
    {
        /// <summary>The entry flagged 0x00, and the one flagged 0x80.</summary>
        public uint First, Second;
    }

    /// <summary>The terminal's project information (XQUIB_GetProjInfo).</summary>
    public sealed class ProjectInfo
    {
        public uint Value1, Value2;
        /// <summary>The project's name, the bytes read as Latin-1.</summary>
        public string Name;
        public byte[] NameBytes;
    }

    /// <summary>A channel to a graphic terminal: 8 data bits, even parity, one stop bit.</summary>
    public sealed class GraphicTerminal : Channel
    {
        /// <summary>Room the reads start with; a read that finds it too small grows it and
        /// reads again.</summary>
        public int ReadCapacity = 4 << 20;

        /// <summary>The status byte of the last reply a call of this object checked.</summary>
        public ushort LastStatus { get; private set; }

        /// <summary>Opens a channel on port 0..9 (COM1..COM10, or the device that
        /// Library.SetPortDevice or QUIBLINK_COMn names). Throws QuiblinkException with
        /// OpenFailure set when the port cannot be opened.</summary>
        public GraphicTerminal(int port, int baud = 38400, int model = 0)
            : base("XQUIB_Open", () => Native.XQUIB_Open(checked((ushort)port), checked((ushort)baud), checked((ushort)model)))
        {
        }

        // Hands the library's progress to the caller's. An exception that the caller's progress
        // throws cancels the transfer (no further block) and is thrown again once the call has
        // returned: it never crosses the library's frames.
        sealed class ProgressRelay
        {
            readonly Channel channel;
            readonly Action<long, long> progress;
            Exception thrown;

            public ProgressRelay(Channel channel, Action<long, long> progress)
            {
                this.channel = channel;
                this.progress = progress;
            }

            public Native.QUIB_Progress Callback
            {
                get { return progress == null ? null : new Native.QUIB_Progress(Report); }
            }

            void Report(uint done, uint total, IntPtr user)
            {
                if (thrown != null)
                    return;
                try { progress(done, total); }
                catch (Exception e)
                {
                    thrown = e;
                    channel.Cancel();
                }
            }

            public void ThrowIfThrown()
            {
                if (thrown != null)
                    throw thrown;
            }
        }

        delegate short SizedRead(byte[] data, uint capacity, out int total, ref ushort status,
                                 Native.QUIB_Progress progress);

        byte[] Read(string function, SizedRead read, Action<long, long> progress)
        {
            var relay = new ProgressRelay(this, progress);
            Native.QUIB_Progress callback = relay.Callback;
            int capacity = Math.Max(ReadCapacity, 1024);
            while (true)
            {
                var data = new byte[capacity];
                int total;
                ushort status = LastStatus;
                short rc = read(data, (uint)capacity, out total, ref status, callback);
                GC.KeepAlive(callback);
                LastStatus = status;
                relay.ThrowIfThrown();
                if (rc == (short)Result.RC_BUFFER_TOO_SMALL && capacity <= int.MaxValue / 2)
                {
                    capacity *= 2;
                    continue;
                }
                Check(function, rc, status);
                Array.Resize(ref data, total);
                return data;
            }
        }

        /// <summary>Every group of the grouped area (the project), in the order the terminal
        /// sends them. progress(done, 0) after each block.</summary>
        public byte[] ReadAll(Action<long, long> progress = null)
        {
            ushort h = Handle;
            return Read("XQUIB_ReadAllEx",
                        (byte[] d, uint c, out int t, ref ushort s, Native.QUIB_Progress p) =>
                            Native.XQUIB_ReadAllEx(h, d, c, out t, ref s, p, IntPtr.Zero),
                        progress);
        }

        /// <summary>Every group of the grouped area, as ReadAll, and where each lies in it: one
        /// entry per group in the order the terminal sent them. expected goes to progress as
        /// its total (the project's size, where the terminal reports it).</summary>
        public byte[] ReadAllGroups(out Native.QUIB_GroupEntry[] groups, Action<long, long> progress = null,
                                    uint expected = 0, int maxGroups = 0x10000)
        {
            ushort h = Handle;
            var table = new Native.QUIB_GroupEntry[maxGroups];
            uint count = 0;
            byte[] data = Read("XQUIB_ReadAllGroups",
                               (byte[] d, uint c, out int t, ref ushort s, Native.QUIB_Progress p) =>
                                   Native.XQUIB_ReadAllGroups(h, d, c, out t, table, (uint)table.Length,
                                                              out count, ref s, expected, p, IntPtr.Zero),
                               progress);
            Array.Resize(ref table, (int)count);
            groups = table;
            return data;
        }

        /// <summary>One group of the grouped area; a group that does not exist reads as no
        /// bytes.</summary>
        public byte[] ReadGroup(int group, Action<long, long> progress = null)
        {
            ushort h = Handle, g = checked((ushort)group);
            return Read("XQUIB_Read1GEx",
                        (byte[] d, uint c, out int t, ref ushort s, Native.QUIB_Progress p) =>
                            Native.XQUIB_Read1GEx(h, g, d, c, out t, ref s, p, IntPtr.Zero),
                        progress);
        }

        /// <summary>A plain area: 3..6, 240..242.</summary>
        public byte[] ReadArea(int area, Action<long, long> progress = null)
        {
            ushort h = Handle;
            byte a = checked((byte)area);
            return Read("XQUIB_ReadEx",
                        (byte[] d, uint c, out int t, ref ushort s, Native.QUIB_Progress p) =>
                            Native.XQUIB_ReadEx(h, a, d, c, out t, ref s, p, IntPtr.Zero),
                        progress);
        }

        delegate short Send(ref ushort status, Native.QUIB_Progress progress);

        void Transfer(string function, Send send, Action<long, long> progress)
        {
            var relay = new ProgressRelay(this, progress);
            Native.QUIB_Progress callback = relay.Callback;
            ushort status = LastStatus;
            short rc = send(ref status, callback);
            GC.KeepAlive(callback);
            LastStatus = status;
            relay.ThrowIfThrown();
            Check(function, rc, status);
        }

        /// <summary>Writes data to area 1 (the grouped area, with a group number) or a plain
        /// area 3..6. progress(done, data.Length) after each accepted chunk.</summary>
        public void Write(int area, int group, byte[] data, Action<long, long> progress = null)
        {
            if (data == null)
                throw new ArgumentNullException("data");
            ushort h = Handle, g = checked((ushort)group);
            byte a = checked((byte)area);
            Transfer("XQUIB_WriteEx",
                     (ref ushort s, Native.QUIB_Progress p) =>
                         Native.XQUIB_WriteEx(h, a, g, (uint)data.Length, data, ref s, p, IntPtr.Zero),
                     progress);
        }

        /// <summary>Writes one group of the grouped area.</summary>
        public void WriteGroup(int group, byte[] data, Action<long, long> progress = null)
        {
            Write(1, group, data, progress);
        }

        /// <summary>Sends operating-system data: subcommand 0x61 or 0x62, option 0x00 or 0x80.</summary>
        public void InstallOs(int subcommand, int option, byte[] data, Action<long, long> progress = null)
        {
            if (data == null)
                throw new ArgumentNullException("data");
            ushort h = Handle;
            byte sub = checked((byte)subcommand), opt = checked((byte)option);
            Transfer("XQUIB_OSInstlEx",
                     (ref ushort s, Native.QUIB_Progress p) =>
                         Native.XQUIB_OSInstlEx(h, sub, opt, (uint)data.Length, data, ref s, p, IntPtr.Zero),
                     progress);
        }

        delegate short Command(ushort handle, ref ushort status);

        void Run(string function, Command command)
        {
            ushort status = LastStatus;
            short rc = command(Handle, ref status);
            LastStatus = status;
            Check(function, rc, status);
        }

        /// <summary>Starts the terminal's project (no reply is awaited).</summary>
        public void Start() { Check("XQUIB_Start", Native.XQUIB_Start(Handle)); }
        public void Offline() { Run("XQUIB_Offline", Native.XQUIB_Offline); }
        public void SoftwareReset() { Run("XQUIB_SWReset", Native.XQUIB_SWReset); }
        public void Reset() { Run("XQUIB_Reset", Native.XQUIB_Reset); }
        public void Break() { Run("XQUIB_Break", Native.XQUIB_Break); }
        /// <summary>Deletes the groups, areas 3..6 and the project name.</summary>
        public void DeleteUserData() { Run("XQUIB_DelUserData", Native.XQUIB_DelUserData); }
        /// <summary>Asks the terminal to change its rate: code 0x81..0x83. The channel keeps
        /// its own rate.</summary>
        public void ChangeBaudRate(int code)
        {
            ushort c = checked((ushort)code);
            Run("XQUIB_BrateChange", (ushort h, ref ushort s) => Native.XQUIB_BrateChange(h, c, ref s));
        }

        /// <summary>True when the terminal accepts the password, false when it refuses it
        /// (LastStatus holds its reason).</summary>
        public bool CheckPassword(byte[] password)
        {
            byte[] bytes = password ?? new byte[0];
            ushort status = LastStatus;
            short rc = Native.XQUIB_CheckPassword(Handle, bytes, checked((ushort)bytes.Length), ref status);
            LastStatus = status;
            if (rc == (short)Result.RC_TERMINAL_ERROR)
                return false;
            Check("XQUIB_CheckPassword", rc, status);
            return true;
        }

        public bool CheckPassword(string password)
        {
            return CheckPassword(Encoding.UTF8.GetBytes(password ?? ""));
        }

        /// <summary>The terminal type byte (XQUIB_GetKEWType).</summary>
        public int TerminalType
        {
            get
            {
                uint type = 0;
                Run("XQUIB_GetKEWType", (ushort h, ref ushort s) => Native.XQUIB_GetKEWType(h, out type, ref s));
                return (int)type;
            }
        }

        public MemoryData GetMemoryData()
        {
            var result = new MemoryData();
            Run("XQUIB_GetMemData", (ushort h, ref ushort s) =>
                Native.XQUIB_GetMemData(h, out result.Value1, out result.Value2, out result.Value3, ref s));
            return result;
        }

        public OsInfo GetOsInfo()
        {
            var result = new OsInfo();
            Run("XQUIB_GetOsInfo", (ushort h, ref ushort s) =>
                Native.XQUIB_GetOsInfo(h, out result.First, out result.Second, ref s));
            return result;
        }

        public ProjectInfo GetProjectInfo()
        {
            var result = new ProjectInfo();
            var name = new byte[240];
            ushort length = 0;
            Run("XQUIB_GetProjInfo", (ushort h, ref ushort s) =>
                Native.XQUIB_GetProjInfo(h, out result.Value1, out result.Value2, name, out length, ref s));
            result.NameBytes = new byte[Math.Min((int)length, name.Length)];
            Array.Copy(name, result.NameBytes, result.NameBytes.Length);
            result.Name = Encoding.GetEncoding(28591).GetString(result.NameBytes);
            return result;
        }
    }

    /// <summary>A channel to a classic panel: 9600 baud, 7 data bits, even parity, one stop
    /// bit.</summary>
    public sealed class ClassicPanel : Channel
    {
        /// <summary>Opens a channel on port 0..9 with the panel's model code (3 addresses
        /// memory differently).</summary>
        public ClassicPanel(int port, int model = 0)
            : base("QUIB_Open", () => Native.QUIB_Open(checked((ushort)port), checked((ushort)model)))
        {
        }

        /// <summary>Reads count bytes (1..65535) from the panel's memory area 0..3.</summary>
        public byte[] Read(int area, int address, int count)
        {
            var buffer = new byte[count];
            Check("QUIB_Read", Native.QUIB_Read(Handle, checked((ushort)area), address, buffer, checked((ushort)count)));
            return buffer;
        }

        /// <summary>Writes bytes (1..65535) into the panel's memory, area 0.</summary>
        public void Write(int address, byte[] data)
        {
            if (data == null)
                throw new ArgumentNullException("data");
            Check("QUIB_Write", Native.QUIB_Write(Handle, 0, address, checked((ushort)data.Length), data));
        }
    }
}
