// bindings/dotnet/Quiblink.cs under mono against the shared library and two simulators:
// port 0 (QUIBLINK_COM1) a graphic terminal, port 1 (QUIBLINK_COM2) a classic panel, loaded
// by run_dotnet.sh with the contents named below.
//
//   mono QuiblinkTest.exe VERSION SCRATCH_DIR
using System;
using System.Collections.Generic;
using System.Linq;
using System.Threading;
using Quiblink;

static class QuiblinkTest
{
    static int passed, failed;

    static void Check(bool ok, string what)
    {
        if (ok)
            passed++;
        else
        {
            failed++;
            Console.WriteLine("FAILED: " + what);
        }
    }

    static void Case(string name, Action body)
    {
        int before = failed;
        try
        {
            body();
        }
        catch (Exception e)
        {
            failed++;
            Console.WriteLine("FAILED: " + name + " threw " + e);
        }
        Console.WriteLine((failed == before ? "ok   " : "FAIL ") + name);
    }

    static T Throws<T>(Action call, string what) where T : Exception
    {
        try
        {
            call();
        }
        catch (T e)
        {
            return e;
        }
        Check(false, what + " did not throw " + typeof(T).Name);
        return null;
    }

    // The simulator's contents, as run_dotnet.sh loads them.
    static byte[] Pattern(int length, int factor, int offset)
    {
        var bytes = new byte[length];
        for (int i = 0; i < length; i++)
            bytes[i] = (byte)((i * factor + offset) & 255);
        return bytes;
    }
    static readonly byte[] Group1 = Pattern(40, 1, 1);
    static readonly byte[] Group3 = Pattern(1500, 5, 1);
    static readonly byte[] Project = Group1.Concat(Group3).ToArray();

    static int Main(string[] args)
    {
        int version = int.Parse(args[0]);
        string scratch = args[1];
        Library.MessageBoxes = false;

        Case("QUIB_Version through the binding", () => Check(Library.Version == version, "Library.Version " + Library.Version));

        Case("the Result names and values are the library's table", () =>
        {
            // Every name has a value the library knows; the library's name for each value it
            // knows is a Result name of that value. A value's other names are its aliases.
            foreach (string name in Enum.GetNames(typeof(Result)))
            {
                short value = (short)(Result)Enum.Parse(typeof(Result), name);
                Check(!Library.ResultText(value).StartsWith("RC_UNKNOWN:", StringComparison.Ordinal),
                      name + " = " + value + ", which the library does not know");
            }
            for (short code = -100; code <= 0; code++)
            {
                string text = Library.ResultText(code);
                if (text.StartsWith("RC_UNKNOWN:", StringComparison.Ordinal))
                    continue;
                string own = text.Substring(0, text.IndexOf(':'));
                Check(Enum.IsDefined(typeof(Result), own) && (short)(Result)Enum.Parse(typeof(Result), own) == code,
                      "the library knows " + code + " as " + own + ", the Result enum does not");
            }
        });

        Case("a failed open carries the code, its name and the device's reason", () =>
        {
            string missing = scratch + "/no-such-device";
            Library.SetPortDevice(5, missing);
            var e = Throws<QuiblinkException>(() => new GraphicTerminal(5, 38400), "open of a missing device");
            if (e != null)
            {
                Check(e.Result == Result.RC_PORT_OPEN_FAILED && e.Name == "RC_PORT_OPEN_FAILED", "code " + e.Code + " name " + e.Name);
                Check(e.OpenFailure != null && e.OpenFailure.StartsWith(missing, StringComparison.Ordinal), "reason " + e.OpenFailure);
                Check(e.OpenErrorNumber == 2, "errno " + e.OpenErrorNumber);
                Check(e.Message.StartsWith("XQUIB_Open: RC_PORT_OPEN_FAILED: ", StringComparison.Ordinal), "message " + e.Message);
            }
            Library.SetPortDevice(5, null);
            e = Throws<QuiblinkException>(() => new ClassicPanel(10), "open of port 10");
            if (e != null)
                Check(e.Result == Result.RC_BAD_PORT && e.OpenErrorNumber == 0 && e.OpenFailure.Contains("above COM10"),
                      "port 10: " + e.Code + " " + e.OpenErrorNumber + " " + e.OpenFailure);
            var bad = Throws<QuiblinkException>(() => Library.SetPortDevice(10, "/dev/null"), "SetPortDevice(10)");
            if (bad != null)
                Check(bad.Result == Result.RC_BAD_PORT && bad.OpenFailure == null, "SetPortDevice(10): " + bad.Code);
        });

        var traces = new List<KeyValuePair<int, string>>();
        EventHandler<TraceEventArgs> onTrace = (sender, e) =>
        {
            lock (traces)
                traces.Add(new KeyValuePair<int, string>(Thread.CurrentThread.ManagedThreadId, e.Text));
        };
        Library.Trace += onTrace;
        int mainThread = Thread.CurrentThread.ManagedThreadId;
        ushort closedHandle = 0;

        using (var terminal = new GraphicTerminal(0, 38400))
        {
            closedHandle = terminal.Handle;
            Case("queries: type, project, memory, operating system", () =>
            {
                Check(terminal.TerminalType == 7, "terminal type " + terminal.TerminalType);
                ProjectInfo project = terminal.GetProjectInfo();
                Check(project.Name == "CSHARP" && project.Value1 == Project.Length && project.Value2 == 2,
                      "project " + project.Name + " " + project.Value1 + " " + project.Value2);
                MemoryData memory = terminal.GetMemoryData();
                Check(memory.Value3 == 2, "memory data group count " + memory.Value3);
                terminal.InstallOs(0x61, 0x80, Pattern(300, 3, 0));
                OsInfo os = terminal.GetOsInfo();
                Check(os.First == 0 && os.Second == 300, "os info " + os.First + " " + os.Second);
                Check(terminal.LastStatus == 0, "status " + terminal.LastStatus);
            });

            Case("XQUIB_ReadAll through Native", () =>
            {
                var data = new byte[8192];
                int total;
                ushort status = 0xFFFF;
                short rc = Native.XQUIB_ReadAll(terminal.Handle, data, out total, ref status);
                Check(rc == 0 && status == 0 && total == Project.Length, "rc " + rc + " status " + status + " total " + total);
                Check(data.Take(total).SequenceEqual(Project), "XQUIB_ReadAll's bytes differ from the groups");
                rc = Native.XQUIB_ReadAllEx(terminal.Handle, data, 100, out total, ref status, null, IntPtr.Zero);
                Check(rc == (short)Result.RC_BUFFER_TOO_SMALL, "XQUIB_ReadAllEx into 100 bytes: " + rc);
            });

            Case("ReadAll with progress, and a buffer that has to grow", () =>
            {
                var seen = new List<long>();
                byte[] data = terminal.ReadAll((done, total) => { Check(total == 0, "progress total " + total); seen.Add(done); });
                Check(data.SequenceEqual(Project), "ReadAll's bytes differ from the groups");
                Check(seen.Count >= 3 && seen.Last() == Project.Length, "progress " + string.Join(",", seen));
                for (int i = 1; i < seen.Count; i++)
                    Check(seen[i] > seen[i - 1], "progress goes back: " + string.Join(",", seen));
                terminal.ReadCapacity = 1024;
                Check(terminal.ReadAll().SequenceEqual(Project), "ReadAll after growing its buffer");
                Check(terminal.ReadGroup(3).SequenceEqual(Group3), "ReadGroup(3)");
                Native.QUIB_GroupEntry[] groups;
                long lastTotal = -1;
                byte[] all = terminal.ReadAllGroups(out groups, (done, total) => lastTotal = total, 4242);
                Check(all.SequenceEqual(Project) && lastTotal == 4242, "ReadAllGroups' bytes, progress total " + lastTotal);
                Check(groups.Length == 2 && groups[0].Group == 1 && groups[0].Offset == 0 &&
                      groups[0].Length == Group1.Length && groups[1].Group == 3 &&
                      groups[1].Offset == Group1.Length && groups[1].Length == Group3.Length,
                      "group table " + string.Join(",", groups.Select(g => g.Group + "@" + g.Offset + "+" + g.Length)));
                try
                {
                    terminal.ReadAllGroups(out groups, null, 0, 1);
                    Check(false, "a one-entry table held two groups");
                }
                catch (QuiblinkException e)
                {
                    Check(e.Code == (short)Result.RC_GROUP_TABLE_FULL, "one-entry table: " + e.Code);
                }
                Check(terminal.ReadGroup(9).Length == 0, "a missing group reads as nothing");
            });

            Case("Cancel from the progress callback, and a callback that throws", () =>
            {
                int calls = 0;
                try
                {
                    terminal.ReadAll((done, total) => { calls++; terminal.Cancel(); });
                    Check(false, "a cancelled ReadAll returned");
                }
                catch (QuiblinkException e)
                {
                    Check(e.Code == (short)Result.RC_CANCELLED, "cancelled ReadAll: " + e.Code);
                }
                Check(calls == 1, "blocks after the cancel: " + calls);
                calls = 0;
                try
                {
                    terminal.ReadAll((done, total) => { calls++; throw new InvalidOperationException("stop"); });
                    Check(false, "ReadAll with a throwing callback returned");
                }
                catch (InvalidOperationException) { }
                Check(calls == 1, "blocks after the callback threw: " + calls);
                Check(terminal.ReadAll().SequenceEqual(Project), "ReadAll after the cancels");
            });

            Case("Write with progress, read back", () =>
            {
                byte[] written = Pattern(2500, 7, 3);
                var seen = new List<string>();
                terminal.Write(4, 0, written, (done, total) => seen.Add(done + "/" + total));
                Check(string.Join(",", seen) == "1024/2500,2048/2500,2500/2500", "write progress " + string.Join(",", seen));
                Check(terminal.ReadArea(4).SequenceEqual(written), "area 4 reads back otherwise");
            });

            Case("a refusal carries the terminal status", () =>
            {
                Check(!terminal.CheckPassword("wrong") && terminal.LastStatus == 5, "wrong password: status " + terminal.LastStatus);
                Check(terminal.CheckPassword("1234") && terminal.LastStatus == 0, "right password");
                var e = Throws<QuiblinkException>(() => terminal.WriteGroup(0, new byte[] { 1 }), "write to group 0");
                if (e != null)
                    Check(e.Result == Result.RC_TERMINAL_ERROR && e.TerminalStatus == 6 && e.Message.Contains("(terminal status 6)"),
                          "group 0: " + e.Message);
                terminal.Offline();
                Check(terminal.LastStatus == 0, "offline after a refusal: status " + terminal.LastStatus);
            });

            Case("the other family's call is refused", () =>
            {
                var buffer = new byte[4];
                Check(Native.QUIB_Read(terminal.Handle, 0, 0x100, buffer, 4) == (short)Result.RC_BAD_ARGUMENT, "QUIB_Read on a graphic channel");
            });
        }

        Case("close", () =>
        {
            Check(Native.QUIB_Close(closedHandle) == (short)Result.RC_PORT_OPEN_FAILED, "the channel is still open after Dispose");
            var terminal = new GraphicTerminal(0, 38400);
            terminal.Close();
            terminal.Dispose();
            Throws<ObjectDisposedException>(() => terminal.Offline(), "a call after Close");
        });

        Library.Trace -= onTrace;
        Case("trace event", () =>
        {
            int count;
            lock (traces)
            {
                count = traces.Count;
                Check(traces.Any(t => t.Value == "READAll command\n" && t.Key == mainThread), "no \"READAll command\" on the calling thread");
                Check(traces.Any(t => t.Value == "Data Size is Ok, Now decoding ...\n" && t.Key != mainThread),
                      "no worker thread's text");
            }
            using (var terminal = new GraphicTerminal(0, 38400))
                terminal.Offline();
            lock (traces)
                Check(traces.Count == count, "texts arrive after the last handler left");
        });

        Case("classic panel: read, write, read back", () =>
        {
            using (var panel = new ClassicPanel(1, 0))
            {
                byte[] memory = panel.Read(0, 0x100, 8);
                Check(BitConverter.ToString(memory) == "DE-AD-BE-EF-00-FF-7E-02", "read " + BitConverter.ToString(memory));
                byte[] written = Pattern(70, 11, 2);
                panel.Write(0x200, written);
                Check(panel.Read(0, 0x200, 70).SequenceEqual(written), "memory reads back otherwise");
                var e = Throws<QuiblinkException>(() => panel.Read(0, 0x100, 0), "a read of 0 bytes");
                if (e != null)
                    Check(e.Result == Result.RC_BAD_ARGUMENT && e.TerminalStatus == null, "read of 0 bytes: " + e.Code);
            }
        });

        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }
}
