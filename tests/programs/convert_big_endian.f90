! Unformatted files in another byte order (CONVERT=): what lands in the
! file, shown byte by byte through a stream connection, and what reads
! back. The same records go out big-endian, little-endian and native.
program convert_big_endian
  implicit none
  integer(4) :: i4, j4
  integer(2) :: i2, j2
  integer(8) :: i8, j8
  real(4) :: r4, s4
  real(8) :: r8(3), s8(3)
  complex(8) :: c8, d8
  logical(4) :: l4, m4
  integer(1) :: bytes(90)
  integer :: k, n

  i4 = 1
  i2 = 258
  i8 = 72623859790382856_8
  r4 = 1.5
  r8 = [1.0d0, -2.25d0, 1.0d300]
  c8 = (0.5d0, -4.0d0)
  l4 = .true.

  open (10, file='conv_big.bin', form='unformatted', status='replace', convert='big_endian')
  write (10) i4, i2, i8, l4
  write (10) r4, r8(1:3:2), c8
  close (10)
  open (10, file='conv_little.bin', form='unformatted', status='replace', convert='little_endian')
  write (10) i4, i2, i8, l4
  close (10)
  open (10, file='conv_native.bin', form='unformatted', status='replace', convert='native')
  write (10) i4, i2, i8, l4
  close (10)

  ! Records 1 and 2: 4 + 18 + 4 and 4 + 36 + 4 bytes.
  n = 70
  open (11, file='conv_big.bin', access='stream', form='unformatted', status='old')
  read (11) bytes(1:n)
  close (11)
  print '(a)', 'big-endian file:'
  print '(13i4)', (modulo(int(bytes(k), 4), 256), k = 1, n)
  open (11, file='conv_little.bin', access='stream', form='unformatted', status='old')
  read (11) bytes(1:26)
  close (11)
  print '(a)', 'little-endian file:'
  print '(13i4)', (modulo(int(bytes(k), 4), 256), k = 1, 26)

  ! Read back through the conversion, into other variables.
  s8 = 0
  open (12, file='conv_big.bin', form='unformatted', status='old', convert='big_endian')
  read (12) j4, j2, j8, m4
  read (12) s4, s8(1:3:2), d8
  close (12)
  print '(i12, i8, i22, l3)', j4, j2, j8, m4
  print '(f8.3, 3es14.5, 2f9.4)', s4, s8, d8

  ! The same file read without the conversion shows the other order.
  open (12, file='conv_big.bin', form='unformatted', status='old', access='stream')
  read (12) j4
  close (12)
  print '(a, i12)', 'marker read natively:', j4
end program convert_big_endian
