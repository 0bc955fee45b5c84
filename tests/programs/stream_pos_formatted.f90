! POS= on a formatted stream unit: a READ starts at the byte it names and
! a WRITE puts its record there (and, as a sequential WRITE does, ends the
! file after it).
program stream_pos_formatted
  implicit none
  character(len=8) :: s
  integer :: ios
  open (23, file='sp.txt', access='stream', form='formatted', status='replace')
  write (23, '(a)') 'abcdefgh'
  write (23, '(a)') 'ijklmnop'
  write (23, '(a)') 'qrstuvwx'
  read (23, '(a)', pos=10, iostat=ios) s
  print '(i0, 1x, a)', ios, s
  read (23, '(a)', pos=3, iostat=ios) s
  print '(i0, 1x, a)', ios, s
  read (23, '(a)', iostat=ios) s
  print '(i0, 1x, a)', ios, s
  write (23, '(a)', pos=12, iostat=ios) 'XY'
  print '(i0)', ios
  close (23)
  open (23, file='sp.txt', access='stream', form='formatted', status='old')
  read (23, '(a)', pos=5, iostat=ios) s
  print '(i0, 1x, a)', ios, s
  write (23, '(a)', pos=1, iostat=ios) 'Z'
  print '(i0)', ios
  close (23)
end program stream_pos_formatted
