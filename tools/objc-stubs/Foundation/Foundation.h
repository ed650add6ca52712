// Type-checking stand-in for <Foundation/Foundation.h>: only the declarations that the
// Objective-C++ bridges use, as the macOS SDK declares them. It lets CI compile the bridges with
// -fsyntax-only off Apple; nothing is ever linked against it.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

// BOOL as Apple's objc.h defines it: the compiler tells through __OBJC_BOOL_IS_BOOL which one the
// target uses, bool on arm64 and signed char on x86_64 (and on other hosts).
#if __OBJC_BOOL_IS_BOOL
typedef bool BOOL;
#else
typedef signed char BOOL;
#endif
#define YES __objc_yes
#define NO __objc_no
typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;
#ifndef nil
#define nil nullptr
#endif

#pragma clang assume_nonnull begin

@class NSString;

@protocol NSObject
- (BOOL)isKindOfClass:(Class)aClass;
@end

__attribute__((objc_root_class)) @interface NSObject <NSObject>
+ (instancetype)alloc;
+ (instancetype)new;
+ (Class)class;
- (instancetype)init;
@end

@interface NSString : NSObject
@property(readonly) NSUInteger length;
@property(nullable, readonly) const char* UTF8String;
@end

@interface NSURL : NSObject
@property(nullable, readonly, copy) NSString* lastPathComponent;
@property(nullable, readonly, copy) NSString* path;
@end

@interface NSDictionary<KeyType, ObjectType> : NSObject
- (nullable ObjectType)objectForKey:(KeyType)aKey;
- (nullable ObjectType)objectForKeyedSubscript:(KeyType)key;
@end

typedef NSString* NSNotificationName;

@interface NSNotification : NSObject
@property(readonly, copy) NSNotificationName name;
@property(nullable, readonly, retain) id object;
@property(nullable, readonly, copy) NSDictionary* userInfo;
@end

@interface NSOperationQueue : NSObject
@property(class, readonly, strong) NSOperationQueue* mainQueue;
@end

@interface NSNotificationCenter : NSObject
- (id<NSObject>)addObserverForName:(nullable NSNotificationName)name
                            object:(nullable id)obj
                             queue:(nullable NSOperationQueue*)queue
                        usingBlock:(void (^)(NSNotification* note))block;
@end

@interface NSDate : NSObject
+ (instancetype)dateWithTimeIntervalSinceNow:(NSTimeInterval)secs;
@property(readonly) NSTimeInterval timeIntervalSinceNow;
@end

typedef NSString* NSRunLoopMode;
extern NSRunLoopMode const NSDefaultRunLoopMode;
extern NSRunLoopMode const NSRunLoopCommonModes;

@interface NSRunLoop : NSObject
@property(class, readonly, strong) NSRunLoop* currentRunLoop;
@property(class, readonly, strong) NSRunLoop* mainRunLoop;
- (void)run;
- (BOOL)runMode:(NSRunLoopMode)mode beforeDate:(NSDate*)limitDate;
@end

@interface NSThread : NSObject
+ (void)sleepForTimeInterval:(NSTimeInterval)ti;
@end

@interface NSProcessInfo : NSObject
@property(class, readonly, strong) NSProcessInfo* processInfo;
@property(readonly) NSTimeInterval systemUptime;
@end

#pragma clang assume_nonnull end
