// Touches each assembly it references, so that the runtime binds every one
// of them (each in a method of its own: a reference is bound when the method
// that uses it is compiled); what fails is caught and named.
using System;
class App {
    static void UseStrong() { Console.WriteLine("Strong " + Strong.Where()); }
    static void UseLib() { Console.WriteLine("Lib " + Lib.Where()); }
    static void UseGone() { Console.WriteLine("Gone " + Gone.Where()); }
    static void UseXml() { Console.WriteLine("System.Xml " + typeof(System.Xml.XmlDocument).Assembly.FullName); }
    static void Try(Action use, string name) {
        try { use(); } catch (Exception e) { Console.WriteLine(name + " " + e.GetType().Name); }
    }
    static void Main() {
        Try(UseStrong, "Strong");
        Try(UseLib, "Lib");
        Try(UseGone, "Gone");
        Try(UseXml, "System.Xml");
    }
}
